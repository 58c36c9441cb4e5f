// The settings file as INI text, read back through QSettings and the type
// rules the application applies to every stored value.
#include "FuzzSupport.h"

#include "core/Preferences.h"

#include <QFile>
#include <QSettings>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A new name each time: QSettings caches what it read per file name.
    const QString path = Fuzz::freshPath(QStringLiteral("Velunta.conf"));
    if (!Fuzz::writeFile(path, Fuzz::bytes(data, size)))
        Fuzz::fail("write settings", __FILE__, __LINE__);
    {
        QSettings settings(path, QSettings::IniFormat);
        for (const QString &key : settings.allKeys()) {
            const QVariant value = settings.value(key);
            const auto boolean = Preferences::boolFromStored(value);
            const auto integer = Preferences::intFromStored(value);
            const auto text = Preferences::stringFromStored(value);
            FUZZ_CHECK(text.has_value() == (value.typeId() == QMetaType::QString));
            if (!text)
                continue;
            // A Boolean is exactly "true" or "false"; an integer is decimal text.
            FUZZ_CHECK(boolean.has_value() == (*text == QLatin1String("true") || *text == QLatin1String("false")));
            FUZZ_CHECK(!boolean || *boolean == (*text == QLatin1String("true")));
            FUZZ_CHECK(integer == Fuzz::referenceDecimal(text->toStdString()));
        }
    }
    QFile::remove(path);
    return 0;
}
