#include "UpdateCrypto.h"

#include <QFile>
#include <QSaveFile>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace UpdateCrypto {

namespace {

struct BioFree {
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

struct PkeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct MdCtxFree {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

QString lastOpenSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("unknown OpenSSL error");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

QString hexString(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QByteArray sha256(const QByteArray &data)
{
    Sha256 hash;
    hash.add(data.constData(), data.size());
    return hash.digest();
}

void Sha256::Free::operator()(evp_md_ctx_st *ctx) const
{
    EVP_MD_CTX_free(ctx);
}

Sha256::Sha256()
    : m_ctx(EVP_MD_CTX_new())
{
    if (!m_ctx || EVP_DigestInit_ex(m_ctx.get(), EVP_sha256(), nullptr) != 1)
        qFatal("SHA-256 is not available from OpenSSL");
}

Sha256::~Sha256() = default;

void Sha256::add(const char *data, qsizetype length)
{
    EVP_DigestUpdate(m_ctx.get(), data, size_t(length));
}

QByteArray Sha256::digest()
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_ctx.get(), out, &length);
    return QByteArray(reinterpret_cast<const char *>(out), int(length));
}

QByteArray encodeBase64(const QByteArray &bytes)
{
    QByteArray out(4 * ((bytes.size() + 2) / 3) + 1, Qt::Uninitialized);
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(bytes.constData()), int(bytes.size()));
    out.truncate(length);
    return out;
}

std::optional<QByteArray> decodeBase64(const QByteArray &text, int expectedLength)
{
    // EVP_DecodeBlock skips whitespace, tolerates odd padding and counts the
    // padding in its length, so the only reliable test of canonical input is
    // to encode the result again and demand the very same text.
    if (text.isEmpty() || text.size() % 4 != 0)
        return std::nullopt;
    QByteArray out(text.size() / 4 * 3, Qt::Uninitialized);
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(text.constData()), int(text.size()));
    if (length < 0)
        return std::nullopt;
    int padding = 0;
    if (text.endsWith("=="))
        padding = 2;
    else if (text.endsWith('='))
        padding = 1;
    out.truncate(length - padding);
    if (encodeBase64(out) != text || out.size() != expectedLength)
        return std::nullopt;
    return out;
}

bool verifyEd25519(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature)
{
    if (publicKey.size() != publicKeyLength || signature.size() != signatureLength)
        return false;
    PkeyPtr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
        reinterpret_cast<const unsigned char *>(publicKey.constData()), size_t(publicKey.size())));
    MdCtxPtr ctx(EVP_MD_CTX_new());
    bool valid = key && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1
        && EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
               size_t(signature.size()), reinterpret_cast<const unsigned char *>(message.constData()),
               size_t(message.size()))
            == 1;
    ERR_clear_error();
    return valid;
}

bool verifyEd25519Base64(const QString &publicKey, const QByteArray &message, const QString &signature)
{
    const auto key = decodeBase64(publicKey.toUtf8(), publicKeyLength);
    const auto sig = decodeBase64(signature.toUtf8(), signatureLength);
    return key && sig && verifyEd25519(*key, message, *sig);
}

void SigningKey::Free::operator()(evp_pkey_st *key) const
{
    EVP_PKEY_free(key);
}

SigningKey SigningKey::generate()
{
    EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!key)
        qFatal("Ed25519 key generation failed: %s", qPrintable(lastOpenSslError()));
    return SigningKey(key);
}

Result<SigningKey, QString> SigningKey::fromPem(const QByteArray &pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (!key)
        return Result<SigningKey, QString>::failure(QStringLiteral("not a PEM private key: ") + lastOpenSslError());
    SigningKey result(key);
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519)
        return Result<SigningKey, QString>::failure(QStringLiteral("the private key is not an Ed25519 key"));
    return result;
}

Result<SigningKey, QString> SigningKey::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<SigningKey, QString>::failure(path + QStringLiteral(": ") + file.errorString());
    return fromPem(file.readAll());
}

QByteArray SigningKey::toPem() const
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), m_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

Result<Done, QString> SigningKey::writeFile(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Result<Done, QString>::failure(path + QStringLiteral(": ") + file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(toPem());
    if (!file.commit())
        return Result<Done, QString>::failure(path + QStringLiteral(": ") + file.errorString());
    return Done {};
}

QByteArray SigningKey::publicKey() const
{
    QByteArray out(publicKeyLength, Qt::Uninitialized);
    size_t length = size_t(out.size());
    EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char *>(out.data()), &length);
    out.truncate(int(length));
    return out;
}

QByteArray SigningKey::sign(const QByteArray &message) const
{
    MdCtxPtr ctx(EVP_MD_CTX_new());
    QByteArray out(signatureLength, Qt::Uninitialized);
    size_t length = size_t(out.size());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_key.get()) != 1
        || EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char *>(out.data()), &length,
               reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()))
            != 1)
        qFatal("Ed25519 signing failed: %s", qPrintable(lastOpenSslError()));
    out.truncate(int(length));
    return out;
}

} // namespace UpdateCrypto
