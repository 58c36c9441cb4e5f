#pragma once

#include "core/Result.h"
#include "updater/UpdateCrypto.h"
#include "updater/UpdateManifest.h"

#include <QString>
#include <optional>

// What a publisher does to ship a version: sign the bundle, pack it into the
// ZIP the installer expects, and announce it in a signed channel manifest.
namespace Publisher {

// Signs BUNDLE's files into Contents/_CodeSignature/.
Result<Done, QString> signBundle(const QString &bundle, const UpdateCrypto::SigningKey &key);

// A ZIP holding the bundle folder (its name at the top, "Velunta.app/…"),
// with links kept and the installed modes (folders and programs 0755, other
// files 0644); entries in a fixed order.
Result<Done, QString> packBundle(const QString &bundle, const QString &archive);

struct Release {
    qint64 build = 0;
    QString version;
    QString url; // where the archive will be served
    QString minimumSystem; // lowest C library version, such as 2.36
    QString notes;
    std::optional<qint64> rollout;
    std::optional<bool> paused;
};

// The manifest of RELEASE for ARCHIVE (its size and SHA-256), signed with KEY.
Result<UpdateManifest, QString> makeManifest(
    const Release &release, const QString &archive, const UpdateCrypto::SigningKey &key);

// Fills in the signature of an otherwise complete manifest.
UpdateManifest signManifest(UpdateManifest manifest, const UpdateCrypto::SigningKey &key);

// Writes manifest.json (stable) or beta.json (beta) into FOLDER; gives its path.
Result<QString, QString> writeManifest(const UpdateManifest &manifest, const QString &folder, bool beta);

} // namespace Publisher
