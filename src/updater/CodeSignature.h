#pragma once

#include "UpdateCrypto.h"
#include "UpdateError.h"
#include "core/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The code signature of a Velunta.app bundle: which bytes make up the app,
// and who vouches for them.
//
// It lives in one text file, Contents/_CodeSignature/CodeResources (UTF-8,
// lines ending in a line feed):
//
//     velunta-code-signature-v1
//     key <Base64 of the publisher's raw 32-byte Ed25519 public key>
//     file <SHA-256 of the content, hex> <x if executable, else -> <path>
//     link <SHA-256 of the link's target text, hex> - <path>
//     …
//     signature <Base64 of the 64-byte Ed25519 signature>
//
// Paths are relative to the bundle folder ("Contents/Info.plist"), one entry
// for every regular file and symbolic link of the bundle except the
// _CodeSignature folder itself, sorted by their UTF-8 bytes. Folders are not
// listed. The signature covers every byte above the signature line. Names
// holding a line break, and any other kind of file (devices, pipes, sockets),
// cannot be signed.
//
// The "x" is all that is signed of a file's mode, because an update installs
// with fixed modes whatever the packer's umask was: folders and files marked
// "x" 0755, other files 0644. A candidate is only accepted with exactly those
// modes, so that the signed list also fixes who may write to the installed app.
namespace CodeSignature {

inline const QString folderPath = QStringLiteral("Contents/_CodeSignature");
inline const QString filePath = QStringLiteral("Contents/_CodeSignature/CodeResources");

struct Entry {
    enum Type { file, link };
    Type type = file;
    QString path; // relative to the bundle
    QString digest; // lower-case hex SHA-256
    bool executable = false;
    bool operator==(const Entry &) const = default;
};

// Every signed entry of the bundle at BUNDLEPATH as it is on disk now.
Result<QList<Entry>, QString> scan(const QString &bundlePath);

// Writes a fresh signature of the bundle's current content with KEY.
Result<Done, QString> sign(const QString &bundlePath, const UpdateCrypto::SigningKey &key);

// Checks that the bundle carries a signature that verifies and matches its
// files exactly (nothing changed, missing or added); gives the raw public key
// that signed it. Any failure is `wrongCodeSignature`.
Result<QByteArray, UpdateError> verify(const QString &bundlePath);

// Accepts CANDIDATE only when both it and the running bundle carry valid
// signatures made with the same key, and the candidate's folders and files
// have their installed modes. An unsigned running bundle accepts no candidate
// at all.
Result<Done, UpdateError> verifyCandidate(const QString &candidatePath, const QString &runningPath);

} // namespace CodeSignature
