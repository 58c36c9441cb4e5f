#include "UpdateEngine.h"

#include "CodeSignature.h"
#include "UpdateCrypto.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// The checks a downloaded update passes before anything uses it: the archive
// against the signed manifest, then the bundle inside against the running one.
namespace UpdateEngine {

namespace {

constexpr qint64 hashChunk = 1024 * 1024;

// What the bundle says about itself, when the value has the right type.
std::optional<QString> stringValue(const QVariantMap &info, const QString &key)
{
    const QVariant value = info.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

} // namespace

Result<Done, UpdateError> verifyPackage(
    const QString &archive, const UpdateManifest &manifest, const QString &publicKey)
{
    using Outcome = Result<Done, UpdateError>;
    struct stat st;
    if (::stat(QFile::encodeName(archive).constData(), &st) != 0)
        return Outcome::failure(UpdateError::fromErrno(archive, errno));
    if (qint64(st.st_size) != manifest.size)
        return Outcome::failure(UpdateError::wrongSize);
    const auto digest = sha256(archive);
    if (!digest)
        return Outcome::failure(digest.error());
    if (*digest != manifest.sha256.toLower())
        return Outcome::failure(UpdateError::wrongHash);
    if (!UpdateCrypto::verifyEd25519Base64(publicKey, manifest.signedMessage(), manifest.signature))
        return Outcome::failure(UpdateError::wrongSignature);
    return Done {};
}

Result<QString, UpdateError> sha256(const QString &file)
{
    using Outcome = Result<QString, UpdateError>;
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Outcome::failure(UpdateError::fromErrno(file, errno));
    struct Close {
        int fd;
        ~Close() { ::close(fd); }
    } closer {fd};
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    UpdateCrypto::Sha256 hash;
    std::unique_ptr<char[]> chunk(new char[hashChunk]);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.get(), size_t(hashChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Outcome::failure(UpdateError::fromErrno(file, errno));
        }
        if (n == 0)
            break;
        hash.add(chunk.get(), n);
    }
    return UpdateCrypto::hexString(hash.digest());
}

Result<Done, UpdateError> verifyApp(const QString &bundle, const UpdateManifest &manifest, const Bundle &running)
{
    using Outcome = Result<Done, UpdateError>;
    const auto info = Bundle::readPropertyList(bundle + QStringLiteral("/Contents/Info.plist"));
    if (!info)
        return Outcome::failure(UpdateError::invalidPackage);
    const QString identifierKey = QStringLiteral("CFBundleIdentifier");
    if (stringValue(*info, identifierKey) != stringValue(running.infoDictionary(), identifierKey))
        return Outcome::failure(UpdateError(UpdateError::wrongBundle, UpdateError::differentIdentifier));
    const auto version = stringValue(*info, QStringLiteral("CFBundleVersion"));
    if (!version || parseInteger(*version) != manifest.build)
        return Outcome::failure(UpdateError(UpdateError::wrongBundle, UpdateError::differentBuild));
    return CodeSignature::verifyCandidate(bundle, running.path());
}

} // namespace UpdateEngine
