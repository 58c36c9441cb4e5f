#include "UpdateManifest.h"

#include "UpdateCrypto.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

// JSON numbers written with a fraction or an exponent, and integers beyond
// 64 bits, reach us as doubles: none of them is an integer here.
std::optional<qint64> integerValue(const QJsonValue &value)
{
    const QVariant variant = value.toVariant();
    if (variant.typeId() != QMetaType::LongLong)
        return std::nullopt;
    return variant.toLongLong();
}

} // namespace

std::optional<UpdateManifest> UpdateManifest::decode(const QByteArray &body)
{
    if (body.size() > maximumBodySize)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    UpdateManifest manifest;
    bool valid = true;
    auto integer = [&](const char *key, qint64 &out) {
        const auto value = integerValue(object.value(QLatin1String(key)));
        valid = valid && value.has_value();
        if (value)
            out = *value;
    };
    auto string = [&](const char *key, QString &out) {
        const QJsonValue value = object.value(QLatin1String(key));
        valid = valid && value.isString();
        out = value.toString();
    };
    integer("build", manifest.build);
    string("version", manifest.version);
    string("url", manifest.url);
    string("sha256", manifest.sha256);
    integer("size", manifest.size);
    string("signature", manifest.signature);
    string("minimumSystem", manifest.minimumSystem);
    string("notes", manifest.notes);

    // Optional keys: absent and null mean the same.
    const QJsonValue rollout = object.value(QLatin1String("rollout"));
    if (!rollout.isUndefined() && !rollout.isNull()) {
        manifest.rollout = integerValue(rollout);
        valid = valid && manifest.rollout.has_value();
    }
    const QJsonValue paused = object.value(QLatin1String("paused"));
    if (!paused.isUndefined() && !paused.isNull()) {
        valid = valid && paused.isBool();
        manifest.paused = paused.toBool();
    }
    if (!valid)
        return std::nullopt;
    return manifest;
}

QByteArray UpdateManifest::toJson() const
{
    QJsonObject object {
        {QStringLiteral("build"), build},
        {QStringLiteral("version"), version},
        {QStringLiteral("url"), url},
        {QStringLiteral("sha256"), sha256},
        {QStringLiteral("size"), size},
        {QStringLiteral("signature"), signature},
        {QStringLiteral("minimumSystem"), minimumSystem},
        {QStringLiteral("notes"), notes},
    };
    if (rollout)
        object.insert(QStringLiteral("rollout"), *rollout);
    if (paused)
        object.insert(QStringLiteral("paused"), *paused);
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray UpdateManifest::signedMessage() const
{
    const QByteArrayList lines {
        QByteArrayLiteral("velunta-update-v1"),
        QByteArray::number(build),
        version.toUtf8(),
        url.toUtf8(),
        sha256.toUtf8(),
        QByteArray::number(size),
        minimumSystem.toUtf8(),
        UpdateCrypto::hexString(UpdateCrypto::sha256(notes.toUtf8())).toLatin1(),
    };
    return lines.join('\n');
}
