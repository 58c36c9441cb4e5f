// The signature file of a bundle (Contents/_CodeSignature/CodeResources), as
// it arrives inside an update package, checked against a small fixed bundle.
#include "FuzzSupport.h"

#include "updater/CodeSignature.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The key the seeds were signed with (raw 32 bytes, Base64).
const QByteArray publicKey = QByteArray::fromBase64("25pI9i3x6oXywuqMI5zJGCI68xDPuA5osJjz2G9ykkY=");

// A bundle with one file of each kind a signature lists: a plain file, an
// executable and a link. The seeds sign exactly these bytes.
QString bundle()
{
    static const QString path = [] {
        // Installed modes (folders and programs 0755, other files 0644),
        // which a candidate must have, whatever the caller's umask.
        ::umask(022);
        const QString app = Fuzz::workFolder() + QStringLiteral("/Signed.app");
        const QString executable = app + QStringLiteral("/Contents/MacOS/Velunta");
        const bool written = Fuzz::writeFile(app + QStringLiteral("/Contents/Info.plist"), "<plist><dict/></plist>\n")
            && Fuzz::writeFile(executable, "#!/bin/sh\n")
            && ::chmod(QFile::encodeName(executable).constData(), 0755) == 0
            && ::symlink("../Info.plist", QFile::encodeName(app + QStringLiteral("/Contents/MacOS/Info")).constData())
                == 0;
        if (!written)
            Fuzz::fail("signed bundle", __FILE__, __LINE__);
        return app;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString app = bundle();
    const QString file = app + QLatin1Char('/') + CodeSignature::filePath;
    if (!Fuzz::writeFile(file, Fuzz::bytes(data, size)))
        Fuzz::fail("write CodeResources", __FILE__, __LINE__);

    const auto verified = CodeSignature::verify(app);
    if (verified)
        FUZZ_CHECK(*verified == publicKey);
    // The candidate check agrees with the plain one on the same bundle.
    FUZZ_CHECK(bool(CodeSignature::verifyCandidate(app, app)) == bool(verified));
    return 0;
}
