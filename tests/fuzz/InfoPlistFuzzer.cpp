// A candidate bundle's Info.plist, XML or binary, as it arrives inside an
// update package: reading it into Qt values and the checks of the candidate
// against the running bundle.
#include "FuzzSupport.h"

#include "core/Bundle.h"
#include "updater/UpdateEngine.h"

#include <QDir>

namespace {

const QString candidateInfo = QStringLiteral("/Candidate.app/Contents/Info.plist");

// The running bundle the candidate is held against: the identifier and
// build the seeds carry, and no signature, so a candidate that gets through
// the property checks ends in the signature check and fails there.
const Bundle &running()
{
    static const Bundle bundle = [] {
        const QString path = Fuzz::workFolder() + QStringLiteral("/Running.app");
        Fuzz::writeFile(path + QStringLiteral("/Contents/Info.plist"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleIdentifier</key><string>app.velunta.Velunta</string>"
            "<key>CFBundleVersion</key><string>6</string></dict></plist>\n");
        const auto found = Bundle::at(path);
        if (!found)
            Fuzz::fail("running bundle", __FILE__, __LINE__);
        return *found;
    }();
    return bundle;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Bundle &current = running();
    const QString folder = Fuzz::freshPath(QStringLiteral("plist"));
    if (!Fuzz::writeFile(folder + candidateInfo, Fuzz::bytes(data, size)))
        Fuzz::fail("write Info.plist", __FILE__, __LINE__);

    const auto info = Bundle::readPropertyList(folder + candidateInfo);
    const auto bundle = Bundle::at(folder + QStringLiteral("/Candidate.app"));
    FUZZ_CHECK(info.has_value() == bundle.has_value());
    if (bundle) {
        FUZZ_CHECK(bundle->infoDictionary().keys() == info->keys());
        FUZZ_CHECK(!bundle->version().isEmpty());
        bundle->identifier();
        bundle->build();
        bundle->executableName();
    }

    UpdateManifest manifest;
    manifest.build = 7;
    const auto verified = UpdateEngine::verifyApp(folder + QStringLiteral("/Candidate.app"), manifest, current);
    FUZZ_CHECK(!verified);

    Fuzz::removeTree(folder);
    return 0;
}
