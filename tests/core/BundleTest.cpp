#include "core/Bundle.h"
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

QByteArray bigEndian(quint64 value, int size)
{
    QByteArray bytes;
    for (int i = size - 1; i >= 0; --i)
        bytes += char(value >> (8 * i));
    return bytes;
}

// A binary property list of OBJECTS, the first one the root; object
// references and offsets take four bytes.
QByteArray binaryPlist(const QList<QByteArray> &objects)
{
    QByteArray out = "bplist00";
    QList<quint64> offsets;
    for (const QByteArray &object : objects) {
        offsets.append(out.size());
        out += object;
    }
    const quint64 table = out.size();
    for (const quint64 offset : offsets)
        out += bigEndian(offset, 4);
    return out + QByteArray(6, 0) + char(4) + char(4) + bigEndian(objects.size(), 8) + bigEndian(0, 8)
        + bigEndian(table, 8);
}

// {"CFBundleVersion": "7", "a": [[[…]]]}, DEPTH arrays deep.
QByteArray deepBinaryPlist(int depth)
{
    QList<QByteArray> objects {"\xD2" + bigEndian(1, 4) + bigEndian(2, 4) + bigEndian(3, 4) + bigEndian(4, 4),
        "\x5F\x10\x0F"
        "CFBundleVersion",
        "\x51"
        "a",
        "\x51"
        "7"};
    for (int i = 0; i < depth; ++i)
        objects.append(i + 1 < depth ? "\xA1" + bigEndian(5 + i, 4) : QByteArray("\xA0"));
    return binaryPlist(objects);
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
    TestSupport::writeFile(
        dir.filePath("B.app/Contents/Info.plist"), "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
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

TEST(Bundle, AKeyOrStringHoldingANulCharacterIsNoBundleAndNoAbort)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("Xml.app/Contents/Info.plist"),
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>7" + QByteArray(1, '\0')
            + "x</string></dict></plist>");
    EXPECT_FALSE(Bundle::at(dir.filePath("Xml.app")));
    // {"a\0b": "x"} with the key in UTF-16.
    TestSupport::writeFile(dir.filePath("Binary.app/Contents/Info.plist"),
        binaryPlist({"\xD1" + bigEndian(1, 4) + bigEndian(2, 4), QByteArray("\x63\0a\0\0\0b", 7), "\x51x"}));
    EXPECT_FALSE(Bundle::at(dir.filePath("Binary.app")));
}
