// Manifest bodies as an update server could send them: the JSON decoding,
// the strict Base64 of keys and signatures, and the signature check on what
// was decoded.
#include "FuzzSupport.h"

#include "updater/UpdateCrypto.h"
#include "updater/UpdateManifest.h"

namespace {

// The key the signed seeds were made with, so that mutations of them reach
// the signature check with a key that fits.
const QString publicKey = QStringLiteral("25pI9i3x6oXywuqMI5zJGCI68xDPuA5osJjz2G9ykkY=");

bool isValidText(const UpdateManifest &m)
{
    for (const QString *text : {&m.version, &m.url, &m.sha256, &m.signature, &m.minimumSystem, &m.notes}) {
        if (!text->isValidUtf16())
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = Fuzz::bytes(data, size);

    if (const auto manifest = UpdateManifest::decode(body)) {
        FUZZ_CHECK(body.size() <= UpdateManifest::maximumBodySize);
        // What the publisher writes back reads as the same manifest (text
        // that is not valid UTF-16 cannot survive UTF-8 either way).
        if (isValidText(*manifest)) {
            const auto again = UpdateManifest::decode(manifest->toJson());
            FUZZ_CHECK(again && *again == *manifest);
        }
        const QByteArray message = manifest->signedMessage();
        FUZZ_CHECK(message.startsWith("velunta-update-v1\n"));
        UpdateCrypto::verifyEd25519Base64(publicKey, message, manifest->signature);
    }

    // The same bytes as Base64 text at both lengths the update path decodes:
    // only the one canonical spelling of exactly that many bytes passes.
    for (const int length : {UpdateCrypto::publicKeyLength, UpdateCrypto::signatureLength}) {
        const auto decoded = UpdateCrypto::decodeBase64(body, length);
        if (decoded) {
            FUZZ_CHECK(decoded->size() == length);
            FUZZ_CHECK(UpdateCrypto::encodeBase64(*decoded) == body);
        }
        const auto reference = QByteArray::fromBase64Encoding(body, QByteArray::AbortOnBase64DecodingErrors);
        if (reference && reference.decoded.size() == length && reference.decoded.toBase64() == body)
            FUZZ_CHECK(decoded && *decoded == reference.decoded);
    }
    if (size > 0) {
        // A signature check never accepts what it cannot decode.
        const QByteArray half = body.left(body.size() / 2);
        UpdateCrypto::verifyEd25519Base64(QString::fromLatin1(half), body, QString::fromLatin1(body.mid(half.size())));
    }
    return 0;
}
