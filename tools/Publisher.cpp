#include "Publisher.h"

#include "ZipWriter.h"
#include "updater/CodeSignature.h"
#include "updater/UpdateConfig.h"
#include "updater/UpdateEngine.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace Publisher {

Result<Done, QString> signBundle(const QString &bundle, const UpdateCrypto::SigningKey &key)
{
    if (!QFileInfo::exists(bundle + QStringLiteral("/Contents/Info.plist")))
        return Result<Done, QString>::failure(bundle + QStringLiteral(": not a bundle (no Contents/Info.plist)"));
    return CodeSignature::sign(bundle, key);
}

Result<Done, QString> packBundle(const QString &bundle, const QString &archive)
{
    const QDir root(QDir::cleanPath(QFileInfo(bundle).absoluteFilePath()));
    const QString top = QFileInfo(root.path()).fileName();
    if (!top.endsWith(QLatin1String(".app")) || !root.exists())
        return Result<Done, QString>::failure(bundle + QStringLiteral(": not a .app folder"));

    QStringList paths;
    QDirIterator it(root.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(root.relativeFilePath(it.next()));
    std::sort(paths.begin(), paths.end());

    ZipWriter zip;
    if (auto opened = zip.open(archive); !opened)
        return opened;
    if (auto added = zip.addDirectory(top); !added)
        return added;
    for (const QString &relative : paths) {
        const QString path = root.filePath(relative);
        const QString name = top + QLatin1Char('/') + relative;
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return Result<Done, QString>::failure(path + QStringLiteral(": cannot read"));
        zip.setModificationTime(qint64(st.st_mtime));
        Result<Done, QString> added = Done {};
        // The modes the installer gives them anyway: a tree packed under a
        // loose umask must not ask for group- or world-writable files.
        if (S_ISDIR(st.st_mode)) {
            added = zip.addDirectory(name, 0755);
        } else if (S_ISREG(st.st_mode)) {
            added = zip.addFileFromDisk(name, path, (st.st_mode & 0111) != 0 ? 0755 : 0644);
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(4096, Qt::Uninitialized);
            const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
            if (n < 0)
                return Result<Done, QString>::failure(path + QStringLiteral(": cannot read the link"));
            target.truncate(qsizetype(n));
            added = zip.addSymlink(name, QFile::decodeName(target));
        } else {
            return Result<Done, QString>::failure(
                path + QStringLiteral(": only files, folders and links can be packed"));
        }
        if (!added)
            return added;
    }
    return zip.close();
}

UpdateManifest signManifest(UpdateManifest manifest, const UpdateCrypto::SigningKey &key)
{
    manifest.signature = QString::fromLatin1(UpdateCrypto::encodeBase64(key.sign(manifest.signedMessage())));
    return manifest;
}

Result<UpdateManifest, QString> makeManifest(
    const Release &release, const QString &archive, const UpdateCrypto::SigningKey &key)
{
    const QFileInfo info(archive);
    if (!info.isFile())
        return Result<UpdateManifest, QString>::failure(archive + QStringLiteral(": no such file"));
    const auto digest = UpdateEngine::sha256(archive);
    if (!digest)
        return Result<UpdateManifest, QString>::failure(digest.error().message());
    UpdateManifest manifest;
    manifest.build = release.build;
    manifest.version = release.version;
    manifest.url = release.url;
    manifest.sha256 = *digest;
    manifest.size = info.size();
    manifest.minimumSystem = release.minimumSystem;
    manifest.notes = release.notes;
    manifest.rollout = release.rollout;
    manifest.paused = release.paused;
    return signManifest(manifest, key);
}

Result<QString, QString> writeManifest(const UpdateManifest &manifest, const QString &folder, bool beta)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(beta ? UpdateConfig::betaChannelFile : UpdateConfig::stableChannelFile);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Result<QString, QString>::failure(path + QStringLiteral(": ") + file.errorString());
    file.write(manifest.toJson());
    if (!file.commit())
        return Result<QString, QString>::failure(path + QStringLiteral(": ") + file.errorString());
    return path;
}

} // namespace Publisher
