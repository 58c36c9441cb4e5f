// The .deb that CPack makes: Debian's own checkers accept it and its desktop
// files, and every library its programs link, and every Qt part loaded at run
// time, comes from a package it depends on or from the base system.
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class DebPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        work = new QTemporaryDir;
        const ProcessResult r
            = run("cpack", {"-G", "DEB", "--config", buildDir() + "/CPackConfig.cmake", "-B", work->path()},
                QProcessEnvironment::systemEnvironment(), 300000);
        packError = r.exitCode == 0 ? QString() : QString::fromUtf8(r.out + r.err);
        const QStringList debs = QDir(work->path()).entryList({"velunta_*.deb"}, QDir::Files);
        if (packError.isEmpty() && debs.size() != 1)
            packError = "cpack made " + debs.join(", ");
        if (!packError.isEmpty())
            return;
        deb = new QString(work->path() + "/" + debs.first());
        const ProcessResult x
            = run("dpkg-deb", {"-x", *deb, work->path() + "/root"}, QProcessEnvironment::systemEnvironment());
        if (x.exitCode != 0)
            packError = "dpkg-deb -x: " + QString::fromUtf8(x.err);
    }
    static void TearDownTestSuite()
    {
        delete deb;
        delete work;
    }
    void SetUp() override
    {
        for (const char *program : {"cpack", "lintian", "desktop-file-validate", "appstreamcli", "dpkg-deb", "readelf"})
            ASSERT_FALSE(QStandardPaths::findExecutable(program).isEmpty())
                << program << " is missing: scripts/install-deps installs it";
        ASSERT_TRUE(packError.isEmpty()) << packError.toStdString();
    }

    static QString root() { return work->path() + "/root"; }
    static QString field(const QString &name) { return QString::fromUtf8(tool("dpkg-deb", {"-f", *deb, name})); }
    // Package names in Depends, alternatives included, versions dropped.
    static QSet<QString> dependencies()
    {
        QSet<QString> names;
        for (const QString &part : field("Depends").split(QRegularExpression("[,|]"), Qt::SkipEmptyParts))
            names.insert(part.trimmed().section(' ', 0, 0).section(':', 0, 0));
        return names;
    }
    // The installed package that holds PATH, without its architecture.
    static QString owner(const QString &path)
    {
        for (const QString &candidate :
            {path, QFileInfo(path).canonicalFilePath(), QString(path).replace(QRegularExpression("^/lib"), "/usr/lib"),
                QString(path).replace(QRegularExpression("^/usr/lib"), "/lib")}) {
            const QByteArray out = tool("dpkg", {"-S", candidate});
            if (!out.isEmpty() && !out.startsWith("dpkg-query:"))
                return QString::fromUtf8(out).section(':', 0, 0).section(',', 0, 0).trimmed();
        }
        return {};
    }
    static bool isBaseSystem(const QString &package)
    {
        const QByteArray out = tool("dpkg-query", {"-W", "-f=${Essential} ${Priority}", package});
        return out.startsWith("yes") || out.endsWith("required");
    }
    // Where the dynamic linker finds SONAME on this machine.
    static QString libraryPath(const QString &soname)
    {
        for (const QString &line : QString::fromUtf8(tool("ldconfig", {"-p"})).split('\n')) {
            if (line.trimmed().startsWith(soname + " ") && line.contains("x86-64"))
                return line.section("=>", 1).trimmed();
        }
        return {};
    }

    static inline QTemporaryDir *work = nullptr;
    static inline QString *deb = nullptr;
    static inline QString packError;
};

} // namespace

TEST_F(DebPackage, DebianCheckersFindNothingToReport)
{
    const ProcessResult lintian
        = run("lintian", {"--no-tag-display-limit", *deb}, QProcessEnvironment::systemEnvironment(), 300000);
    for (const QString &line : QString::fromUtf8(lintian.out).split('\n'))
        EXPECT_FALSE(line.startsWith("E:") || line.startsWith("W:")) << line.toStdString();

    const QString desktop = root() + "/usr/share/applications/app.velunta.Velunta.desktop";
    const ProcessResult entry = run("desktop-file-validate", {desktop}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(entry.exitCode, 0);
    // Hints (Utility and Graphics are both main categories, on purpose) are not problems.
    const QString entryReport = QString::fromUtf8(entry.out + entry.err);
    EXPECT_FALSE(entryReport.contains("error:") || entryReport.contains("warning:")) << entryReport.toStdString();

    const QString metainfo = root() + "/usr/share/metainfo/app.velunta.Velunta.metainfo.xml";
    const ProcessResult appstream
        = run("appstreamcli", {"validate", "--no-net", metainfo}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(appstream.exitCode, 0) << appstream.out.toStdString();
    for (const QString &line : QString::fromUtf8(appstream.out).split('\n'))
        EXPECT_FALSE(line.startsWith("E:") || line.startsWith("W:") || line.startsWith("I:")) << line.toStdString();
    const QByteArray xml = readFile(metainfo);
    EXPECT_TRUE(xml.contains("<project_license>GPL-3.0-or-later</project_license>"));
    EXPECT_TRUE(xml.contains("<release version=\"" + field("Version").toUtf8() + "\""));
}

TEST_F(DebPackage, EveryLinkedLibraryIsDependedOnOrInTheBaseSystem)
{
    const QSet<QString> depends = dependencies();
    int programs = 0;
    QDirIterator it(root(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (QFileInfo(file).isSymLink()
            || readFile(file).left(4)
                != "\x7f"
                   "ELF")
            continue;
        ++programs;
        const QString dynamic = QString::fromUtf8(tool("readelf", {"-d", file}));
        static const QRegularExpression needed("\\(NEEDED\\)\\s+Shared library: \\[([^\\]]+)\\]");
        for (auto match = needed.globalMatch(dynamic); match.hasNext();) {
            const QString soname = match.next().captured(1);
            const QString path = libraryPath(soname);
            ASSERT_FALSE(path.isEmpty()) << soname.toStdString() << " is not on this system";
            const QString package = owner(path);
            ASSERT_FALSE(package.isEmpty()) << path.toStdString() << " belongs to no package";
            EXPECT_TRUE(depends.contains(package) || isBaseSystem(package))
                << QFileInfo(file).fileName().toStdString() << " needs " << soname.toStdString() << " from "
                << package.toStdString() << ", which Depends does not name";
        }
    }
    EXPECT_EQ(programs, 2) << "Velunta and VeluntaUpdateHelper";
}

TEST_F(DebPackage, WhatQtLoadsAtRunTimeIsDependedOnToo)
{
    const QSet<QString> depends = dependencies();
    // The platform of either session (a Wayland session runs Qt on wayland,
    // which also needs the shell integration), and the symbol images.
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    QStringList parts = {plugins + "/platforms/libqxcb.so", plugins + "/platforms/libqwayland-generic.so",
        plugins + "/wayland-shell-integration/libxdg-shell.so", plugins + "/imageformats/libqsvg.so"};
    // Every module the views import.
    const QString qml = QLibraryInfo::path(QLibraryInfo::QmlImportsPath);
    static const QRegularExpression import("^import (Qt[A-Za-z.]*)", QRegularExpression::MultilineOption);
    QDirIterator views(sourceDir() + "/src/ui/qml", {"*.qml"}, QDir::Files);
    QSet<QString> modules;
    while (views.hasNext())
        for (auto match = import.globalMatch(QString::fromUtf8(readFile(views.next()))); match.hasNext();)
            modules.insert(match.next().captured(1));
    ASSERT_FALSE(modules.isEmpty());
    for (const QString &module : modules)
        parts << qml + "/" + QString(module).replace('.', '/') + "/qmldir";

    for (const QString &part : parts) {
        const QString package = owner(part);
        ASSERT_FALSE(package.isEmpty()) << part.toStdString() << " is not installed";
        EXPECT_TRUE(depends.contains(package)) << part.toStdString() << " comes from " << package.toStdString();
    }
}

TEST_F(DebPackage, ADistributionBuildHasNoUpdateKeys)
{
    const QByteArray plist = readFile(root() + "/usr/lib/velunta/Velunta.app/Contents/Info.plist");
    ASSERT_FALSE(plist.isEmpty());
    if (plist.contains("VLUpdateBaseURL"))
        GTEST_SKIP() << "this build was configured with an update server";
    EXPECT_FALSE(plist.contains("VLUpdatePublicKey"));
    EXPECT_EQ(QFileInfo(root() + "/usr/bin/velunta").symLinkTarget(),
        root() + "/usr/lib/velunta/Velunta.app/Contents/MacOS/Velunta");
}
