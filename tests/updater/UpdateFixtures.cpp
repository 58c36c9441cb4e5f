#include "UpdateFixtures.h"

#include "support/TestSupport.h"
#include "tools/ZipWriter.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace Fixtures {

QString string(const QString &text)
{
    return QStringLiteral("<string>") + text.toHtmlEscaped() + QStringLiteral("</string>");
}

void writeInfoPlist(const QString &file, const QList<QPair<QString, QString>> &entries)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                     "<plist version=\"1.0\">\n<dict>\n";
    for (const auto &[key, value] : entries)
        xml += "\t<key>" + key.toUtf8() + "</key>\n\t" + value.toUtf8() + "\n";
    xml += "</dict>\n</plist>\n";
    TestSupport::writeFile(file, xml);
}

void makeBundle(const QString &path, const QString &identifier, const QString &build, const QByteArray &helperScript)
{
    QList<QPair<QString, QString>> entries {
        {"CFBundleExecutable", string("Velunta")},
        {"CFBundleShortVersionString", string("1." + build)},
        {"CFBundleVersion", string(build)},
    };
    if (!identifier.isNull())
        entries.prepend({"CFBundleIdentifier", string(identifier)});
    writeInfoPlist(path + "/Contents/Info.plist", entries);
    TestSupport::writeFile(
        path + "/Contents/MacOS/Velunta", "#!/bin/sh\necho \"Velunta build " + build.toUtf8() + "\"\n");
    QFile::setPermissions(path + "/Contents/MacOS/Velunta",
        QFile::permissions(path + "/Contents/MacOS/Velunta") | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    TestSupport::writeFile(path + "/Contents/Resources/about.txt", "Velunta " + build.toUtf8() + "\n");
    if (!helperScript.isEmpty()) {
        const QString helper = path + "/Contents/Helpers/VeluntaUpdateHelper";
        TestSupport::writeFile(helper, helperScript);
        QFile::setPermissions(helper, QFile::permissions(helper) | QFile::ExeOwner);
    }
    // The modes an installed bundle has, whatever this process's umask.
    ::chmod(QFile::encodeName(path).constData(), 0755);
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (!info.isSymLink())
            ::chmod(QFile::encodeName(info.filePath()).constData(), info.isDir() || info.isExecutable() ? 0755 : 0644);
    }
}

bool packAsIs(const QString &bundle, const QString &archive)
{
    const QDir root(bundle);
    QStringList paths;
    QDirIterator it(bundle, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(root.relativeFilePath(it.next()));
    paths.sort();
    const QString top = QFileInfo(bundle).fileName();
    const auto modeOf = [](const QString &path) {
        struct stat st;
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    ZipWriter zip;
    if (!zip.open(archive) || !zip.addDirectory(top, modeOf(bundle)))
        return false;
    for (const QString &relative : paths) {
        const QFileInfo info(root.filePath(relative));
        const QString name = top + "/" + relative;
        bool added = false;
        if (info.isSymLink()) {
            QByteArray target(4096, Qt::Uninitialized);
            const ssize_t n = ::readlink(QFile::encodeName(info.filePath()).constData(), target.data(), 4096);
            added = n > 0 && zip.addSymlink(name, QFile::decodeName(target.left(n)));
        } else if (info.isDir()) {
            added = bool(zip.addDirectory(name, modeOf(info.filePath())));
        } else {
            added = bool(zip.addFileFromDisk(name, info.filePath(), modeOf(info.filePath())));
        }
        if (!added)
            return false;
    }
    return bool(zip.close());
}

QStringList workFolders(const QString &folder)
{
    return QDir(folder).entryList({"VeluntaUpdate-*"}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace Fixtures
