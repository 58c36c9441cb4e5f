#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

struct evp_md_ctx_st;
struct evp_pkey_st;

// SHA-256, strict Base64 and Ed25519 for the update path, through OpenSSL.
namespace UpdateCrypto {

// Lower-case hexadecimal, two digits a byte, no separators.
QString hexString(const QByteArray &bytes);

// The raw 32-byte SHA-256 digest of DATA.
QByteArray sha256(const QByteArray &data);

// A running SHA-256 for data that arrives in pieces.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void add(const char *data, qsizetype length);
    QByteArray digest(); // raw 32 bytes; call once

private:
    struct Free {
        void operator()(evp_md_ctx_st *ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_ctx;
};

// Standard Base64 (RFC 4648 alphabet, with padding). Decoding is strict:
// whitespace, line breaks, stray or missing padding, or a decoded length
// other than EXPECTEDLENGTH give nothing.
std::optional<QByteArray> decodeBase64(const QByteArray &text, int expectedLength);
QByteArray encodeBase64(const QByteArray &bytes);

constexpr int publicKeyLength = 32;
constexpr int signatureLength = 64;

// True when SIGNATURE (64 raw bytes) is a valid Ed25519 signature of MESSAGE
// under PUBLICKEY (32 raw bytes).
bool verifyEd25519(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature);

// The Base64 key and signature as carried in manifests and Info.plist.
bool verifyEd25519Base64(const QString &publicKey, const QByteArray &message, const QString &signature);

// The publisher's half of the key pair. Kept in a PEM (PKCS #8) file, which
// `openssl pkey` can also read.
class SigningKey {
public:
    static SigningKey generate();
    static Result<SigningKey, QString> fromPem(const QByteArray &pem);
    static Result<SigningKey, QString> readFile(const QString &path);

    QByteArray toPem() const;
    // Written with mode 0600: the private key is nobody else's business.
    Result<Done, QString> writeFile(const QString &path) const;

    QByteArray publicKey() const; // 32 raw bytes
    QString publicKeyBase64() const { return QString::fromLatin1(encodeBase64(publicKey())); }
    QByteArray sign(const QByteArray &message) const; // 64 raw bytes

private:
    struct Free {
        void operator()(evp_pkey_st *key) const;
    };
    explicit SigningKey(evp_pkey_st *key)
        : m_key(key, Free())
    {
    }
    std::shared_ptr<evp_pkey_st> m_key;
};

} // namespace UpdateCrypto
