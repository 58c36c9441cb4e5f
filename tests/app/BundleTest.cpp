#include "app/Bundle.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const char *plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>app.velunta.Velunta</string>
<key>CFBundleExecutable</key><string>Velunta</string>
<key>CFBundleVersion</key><string>41</string>
<key>CFBundleShortVersionString</key><string>1.2.3</string>
<key>VLUpdateAllowLocalHTTP</key><true/>
</dict></plist>)";

} // namespace

TEST(Bundle, ReadsItsInfoPlistAndFindsItsParts)
{
    QTemporaryDir dir;
    const QString app = dir.filePath("Velunta.app");
    TestSupport::writeFile(app + "/Contents/Info.plist", plist);
    TestSupport::writeFile(app + "/Contents/MacOS/Velunta", "#!/bin/sh\n");

    auto bundle = Bundle::containing(app + "/Contents/MacOS/Velunta");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->path(), app);
    EXPECT_EQ(bundle->identifier(), "app.velunta.Velunta");
    EXPECT_EQ(bundle->build(), 41);
    EXPECT_EQ(bundle->version(), "1.2.3");
    EXPECT_EQ(bundle->executableName(), "Velunta");
    EXPECT_EQ(bundle->info("VLUpdateAllowLocalHTTP"), QVariant(true));
    EXPECT_EQ(bundle->helperPath(), app + "/Contents/Helpers/VeluntaUpdateHelper");
}

TEST(Bundle, AProgramOutsideABundleHasBuildZeroAndVersionUnknown)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("bin/Velunta"), "");
    EXPECT_FALSE(Bundle::containing(dir.filePath("bin/Velunta")));
    // A test program is not inside a bundle.
    EXPECT_FALSE(Bundle::main().isValid());
    EXPECT_EQ(Bundle::main().build(), 0);
    EXPECT_EQ(Bundle::main().version(), "?");
}

TEST(Bundle, ACorruptOrNonDictionaryPlistIsNoBundle)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("A.app/Contents/Info.plist"), "<plist><dict><key>x</key>");
    EXPECT_FALSE(Bundle::at(dir.filePath("A.app")));
    TestSupport::writeFile(dir.filePath("B.app/Contents/Info.plist"),
                           "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
    EXPECT_FALSE(Bundle::at(dir.filePath("B.app")));
    EXPECT_FALSE(Bundle::at(dir.filePath("missing.app")));
}

TEST(Bundle, TheBuiltBundleCarriesTheBuildSettings)
{
    auto bundle = Bundle::containing(TestSupport::appPath());
    ASSERT_TRUE(bundle) << TestSupport::appPath().toStdString();
    EXPECT_FALSE(bundle->identifier().isEmpty());
    EXPECT_GT(bundle->build(), 0);
    EXPECT_EQ(bundle->executableName(), "Velunta");
}
