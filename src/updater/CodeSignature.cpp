#include "CodeSignature.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace CodeSignature {

namespace {

const QByteArray header = QByteArrayLiteral("velunta-code-signature-v1");
constexpr qint64 maximumFileSize = 64 * 1024 * 1024;

UpdateError invalid()
{
    return UpdateError(UpdateError::wrongCodeSignature);
}

Result<QString, QString> hashFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<QString, QString>::failure(path + QStringLiteral(": ") + file.errorString());
    UpdateCrypto::Sha256 hash;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0)
            return Result<QString, QString>::failure(path + QStringLiteral(": ") + file.errorString());
        if (n == 0)
            break;
        hash.add(chunk.constData(), n);
    }
    return UpdateCrypto::hexString(hash.digest());
}

Result<QString, QString> hashLink(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlink(native.constData(), target.data(), size_t(target.size()));
    if (n < 0)
        return Result<QString, QString>::failure(path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno)));
    target.truncate(qsizetype(n));
    return UpdateCrypto::hexString(UpdateCrypto::sha256(target));
}

QByteArray entryLine(const Entry &entry)
{
    return (entry.type == Entry::file ? QByteArrayLiteral("file ") : QByteArrayLiteral("link "))
        + entry.digest.toLatin1() + (entry.executable ? " x " : " - ") + entry.path.toUtf8();
}

QByteArray unsignedText(const QByteArray &publicKey, const QList<Entry> &entries)
{
    QByteArray text = header + "\nkey " + UpdateCrypto::encodeBase64(publicKey) + '\n';
    for (const Entry &entry : entries)
        text += entryLine(entry) + '\n';
    return text;
}

// Folders 0755, files 0755 or 0644 (which one the signed "x" decides), the
// bundle folder and the signature itself included; links have no mode.
bool hasInstalledModes(const QString &bundlePath)
{
    struct stat st;
    if (::lstat(QFile::encodeName(bundlePath).constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || (st.st_mode & 07777) != 0755)
        return false;
    QDirIterator it(bundlePath, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (::lstat(QFile::encodeName(it.next()).constData(), &st) != 0)
            return false;
        const mode_t mode = st.st_mode & 07777;
        if (S_ISDIR(st.st_mode) ? mode != 0755 : S_ISREG(st.st_mode) && mode != 0755 && mode != 0644)
            return false;
    }
    return true;
}

} // namespace

Result<QList<Entry>, QString> scan(const QString &bundlePath)
{
    using Failure = Result<QList<Entry>, QString>;
    const QDir root(QFileInfo(bundlePath).absoluteFilePath());
    if (!QFileInfo(bundlePath).isDir())
        return Failure::failure(bundlePath + QStringLiteral(": not a folder"));
    QList<Entry> entries;
    QDirIterator it(root.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = root.relativeFilePath(path);
        if (relative == folderPath || relative.startsWith(folderPath + QLatin1Char('/')))
            continue;
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return Failure::failure(path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno)));
        if (S_ISDIR(st.st_mode))
            continue;
        if (relative.contains(QLatin1Char('\n')) || relative.contains(QLatin1Char('\r')))
            return Failure::failure(path + QStringLiteral(": a name with a line break cannot be signed"));
        Entry entry;
        entry.path = relative;
        if (S_ISREG(st.st_mode)) {
            auto digest = hashFile(path);
            if (!digest)
                return Failure::failure(digest.error());
            entry.digest = *digest;
            entry.executable = (st.st_mode & 0111) != 0;
        } else if (S_ISLNK(st.st_mode)) {
            auto digest = hashLink(path);
            if (!digest)
                return Failure::failure(digest.error());
            entry.type = Entry::link;
            entry.digest = *digest;
        } else {
            return Failure::failure(path + QStringLiteral(": only files, folders and links can be signed"));
        }
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(),
        [](const Entry &a, const Entry &b) { return a.path.toUtf8() < b.path.toUtf8(); });
    return entries;
}

Result<Done, QString> sign(const QString &bundlePath, const UpdateCrypto::SigningKey &key)
{
    auto entries = scan(bundlePath);
    if (!entries)
        return Result<Done, QString>::failure(entries.error());
    const QByteArray text = unsignedText(key.publicKey(), *entries);
    const QByteArray signature = key.sign(text);

    QDir(bundlePath + QLatin1Char('/') + folderPath).removeRecursively();
    if (!QDir().mkpath(bundlePath + QLatin1Char('/') + folderPath))
        return Result<Done, QString>::failure(bundlePath + QStringLiteral(": cannot create ") + folderPath);
    QSaveFile file(bundlePath + QLatin1Char('/') + filePath);
    if (!file.open(QIODevice::WriteOnly))
        return Result<Done, QString>::failure(file.fileName() + QStringLiteral(": ") + file.errorString());
    file.write(text + "signature " + UpdateCrypto::encodeBase64(signature) + '\n');
    if (!file.commit())
        return Result<Done, QString>::failure(file.fileName() + QStringLiteral(": ") + file.errorString());
    return Done {};
}

Result<QByteArray, UpdateError> verify(const QString &bundlePath)
{
    using Outcome = Result<QByteArray, UpdateError>;
    // The signature folder holds the one file and nothing else, so that
    // nothing unsigned can hide in it.
    const QStringList extras = QDir(bundlePath + QLatin1Char('/') + folderPath)
                                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const QFileInfo info(bundlePath + QLatin1Char('/') + filePath);
    if (extras != QStringList {QStringLiteral("CodeResources")} || info.isSymLink() || !info.isFile()
        || info.size() > maximumFileSize)
        return Outcome::failure(invalid());
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return Outcome::failure(invalid());
    const QByteArray content = file.readAll();

    // "…\nsignature <base64>\n" closes the file; everything before it is signed.
    if (!content.endsWith('\n'))
        return Outcome::failure(invalid());
    const qsizetype signatureStart = content.lastIndexOf("\nsignature ", content.size() - 2) + 1;
    if (signatureStart <= 0)
        return Outcome::failure(invalid());
    const QByteArray signedText = content.left(signatureStart);
    const QByteArray signatureText = content.mid(signatureStart + 10).chopped(1);

    QList<QByteArray> lines = signedText.split('\n');
    lines.removeLast(); // after the final line feed
    if (lines.size() < 2 || lines[0] != header || !lines[1].startsWith("key "))
        return Outcome::failure(invalid());
    const auto publicKey = UpdateCrypto::decodeBase64(lines[1].mid(4), UpdateCrypto::publicKeyLength);
    const auto signature = UpdateCrypto::decodeBase64(signatureText, UpdateCrypto::signatureLength);
    if (!publicKey || !signature || !UpdateCrypto::verifyEd25519(*publicKey, signedText, *signature))
        return Outcome::failure(invalid());

    // The signed list must be exactly what the bundle holds now.
    const auto entries = scan(bundlePath);
    if (!entries || unsignedText(*publicKey, *entries) != signedText)
        return Outcome::failure(invalid());
    return *publicKey;
}

Result<Done, UpdateError> verifyCandidate(const QString &candidatePath, const QString &runningPath)
{
    const auto running = verify(runningPath);
    if (!running)
        return Result<Done, UpdateError>::failure(running.error());
    const auto candidate = verify(candidatePath);
    if (!candidate)
        return Result<Done, UpdateError>::failure(candidate.error());
    if (*candidate != *running || !hasInstalledModes(candidatePath))
        return Result<Done, UpdateError>::failure(invalid());
    return Done {};
}

} // namespace CodeSignature
