#include "UpdateFixtures.h"

#include "support/TestSupport.h"

#include <QFile>

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
}

QStringList workFolders(const QString &folder)
{
    return QDir(folder).entryList({"VeluntaUpdate-*"}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace Fixtures
