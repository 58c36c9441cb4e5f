#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <optional>

class Bundle;

// Where this copy looks for updates and which key signs them. It comes from
// the bundle's Info.plist, so that a build without the keys has no updates.
struct UpdateConfig {
    QUrl baseURL;
    QString publicKey; // Base64 of the raw 32-byte Ed25519 key; decoded only when used
    bool allowsLocalHTTP = false;

    static inline const QString stableChannelFile = QStringLiteral("manifest.json");
    static inline const QString betaChannelFile = QStringLiteral("beta.json");

    // From the running bundle; nothing when the keys are missing or malformed.
    static std::optional<UpdateConfig> fromBundle();
    static std::optional<UpdateConfig> fromBundle(const Bundle &bundle);
    static std::optional<UpdateConfig> fromInfo(const QVariantMap &info);

    // The one gate for every address the update path contacts: https, or
    // plain http to 127.0.0.1 when local testing is allowed. The text form
    // judges the address as written: QUrl lower-cases the scheme and turns
    // 127.1, 0x7f.0.0.1 or 2130706433 into 127.0.0.1, so a parsed URL can no
    // longer tell them apart. Use it wherever the text is at hand.
    bool isAllowed(const QString &text) const;
    bool isAllowed(const QUrl &url) const;

    // The channel's manifest: the file name appended as one path component.
    QUrl channelURL(bool beta) const;

    bool operator==(const UpdateConfig &) const = default;
};
