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

// A binary property list {"CFBundleVersion": "7", "a": [[[…]]]}, DEPTH arrays deep.
QByteArray deepBinaryPlist(int depth)
{
    auto be = [](quint64 value, int size) {
        QByteArray bytes;
        for (int i = size - 1; i >= 0; --i)
            bytes += char(value >> (8 * i));
        return bytes;
    };
    QByteArray out = "bplist00";
    QList<quint64> offsets;
    auto add = [&](const QByteArray &object) {
        offsets.append(out.size());
        out += object;
    };
    add("\xD2" + be(1, 4) + be(2, 4) + be(3, 4) + be(4, 4));
    add("\x5F\x10\x0F"
        "CFBundleVersion");
    add("\x51"
        "a");
    add("\x51"
        "7");
    for (int i = 0; i < depth; ++i)
        add(i + 1 < depth ? "\xA1" + be(5 + i, 4) : QByteArray("\xA0"));
    const quint64 table = out.size();
    for (const quint64 offset : offsets)
        out += be(offset, 4);
    return out + QByteArray(6, 0) + char(4) + char(4) + be(offsets.size(), 8) + be(0, 8) + be(table, 8);
}

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

TEST(Bundle, NestingDeeperThanAnyRealPlistIsNoBundleAndNoCrash)
{
    auto nested = [](int depth) {
        return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>7</string>"
               "<key>a</key>"
            + QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) + "</dict></plist>";
    };
    QTemporaryDir dir;
    // Deep enough to run the reader off the stack if it followed the nesting.
    TestSupport::writeFile(dir.filePath("Deep.app/Contents/Info.plist"), nested(200000));
    EXPECT_FALSE(Bundle::at(dir.filePath("Deep.app")));
    TestSupport::writeFile(dir.filePath("DeepBinary.app/Contents/Info.plist"), deepBinaryPlist(25000));
    EXPECT_FALSE(Bundle::at(dir.filePath("DeepBinary.app")));

    TestSupport::writeFile(dir.filePath("Nested.app/Contents/Info.plist"), nested(50));
    const auto bundle = Bundle::at(dir.filePath("Nested.app"));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->build(), 7);
    TestSupport::writeFile(dir.filePath("NestedBinary.app/Contents/Info.plist"), deepBinaryPlist(50));
    const auto binary = Bundle::at(dir.filePath("NestedBinary.app"));
    ASSERT_TRUE(binary);
    EXPECT_EQ(binary->build(), 7);
}
