// Update packages (ZIP) extracted into a temporary folder, the way an update
// is unpacked before its bundle is checked.
#include "FuzzSupport.h"

#include "updater/UpdateEngine.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {

// Every link extracted into FOLDER, followed to the end, ends inside it (or
// nowhere yet).
bool linksStayInside(const QString &folder)
{
    const QString base = QFileInfo(folder).canonicalFilePath();
    QDirIterator it(
        folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        if (!entry.isSymLink())
            continue;
        const QString target = entry.canonicalFilePath();
        if (!target.isEmpty() && target != base && !target.startsWith(base + QLatin1Char('/')))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Everything the extraction may touch lives in SANDBOX: the archive and
    // the folder it is extracted into.
    const QString sandbox = Fuzz::freshPath(QStringLiteral("archive"));
    const QString archive = sandbox + QStringLiteral("/update.zip");
    const QString folder = sandbox + QStringLiteral("/app");
    if (!Fuzz::writeFile(archive, Fuzz::bytes(data, size)))
        Fuzz::fail("write archive", __FILE__, __LINE__);

    const auto app = UpdateEngine::extractApp(archive, folder);
    if (app) {
        // One real bundle folder, right in the extraction folder.
        const QFileInfo info(*app);
        FUZZ_CHECK(info.isDir() && !info.isSymLink());
        FUZZ_CHECK(info.absolutePath() == QFileInfo(folder).canonicalFilePath());
        FUZZ_CHECK(info.fileName().endsWith(QLatin1String(".app")));
        FUZZ_CHECK(linksStayInside(folder));
    }
    // Nothing was written beside the extraction folder, nor beside the sandbox.
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    FUZZ_CHECK(QDir(sandbox).entryList(all, QDir::Name)
        == (QStringList {QStringLiteral("app"), QStringLiteral("update.zip")}));
    FUZZ_CHECK(QDir(Fuzz::workFolder()).entryList(all) == QStringList {QFileInfo(sandbox).fileName()});

    Fuzz::removeTree(sandbox);
    return 0;
}
