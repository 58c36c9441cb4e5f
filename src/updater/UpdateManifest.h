#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// One published version, as the channel's JSON file announces it.
struct UpdateManifest {
    qint64 build = 0;
    QString version;
    QString url;
    QString sha256;
    qint64 size = 0;
    QString signature;
    QString minimumSystem;
    QString notes;
    std::optional<qint64> rollout; // percentage; absent means 100
    std::optional<bool> paused; // absent means false

    // Bodies larger than this are refused before they are parsed.
    static constexpr qsizetype maximumBodySize = 65535;

    // Nothing when the body is too large, is not a JSON object, lacks a
    // required key or holds a value of another JSON type.
    static std::optional<UpdateManifest> decode(const QByteArray &body);

    // The JSON that decode() reads back into this value.
    QByteArray toJson() const;

    // The bytes the signature covers: eight lines joined by line feeds.
    // Rollout and pause stay outside so the publisher can change them
    // without signing again; the notes enter through their hash.
    QByteArray signedMessage() const;

    bool operator==(const UpdateManifest &) const = default;
};
