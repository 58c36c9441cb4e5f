#include "ZipWriter.h"

#include <QDateTime>
#include <QFile>
#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

namespace {

struct EntryFree {
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
using EntryPtr = std::unique_ptr<archive_entry, EntryFree>;

EntryPtr newEntry(const QString &name, unsigned type, int mode, qint64 size, qint64 mtime)
{
    EntryPtr entry(archive_entry_new());
    archive_entry_set_pathname_utf8(entry.get(), name.toUtf8().constData());
    archive_entry_set_filetype(entry.get(), type);
    archive_entry_set_perm(entry.get(), mode_t(mode));
    archive_entry_set_size(entry.get(), size);
    archive_entry_set_mtime(entry.get(), time_t(mtime), 0);
    return entry;
}

} // namespace

void ZipWriter::Free::operator()(archive *a) const
{
    archive_write_free(a);
}

ZipWriter::ZipWriter()
    : m_mtime(QDateTime::currentSecsSinceEpoch())
{
}
ZipWriter::~ZipWriter() = default;

Result<Done, QString> ZipWriter::failure() const
{
    const char *text = m_archive ? archive_error_string(m_archive.get()) : nullptr;
    return Result<Done, QString>::failure(
        m_path + QStringLiteral(": ") + (text ? QString::fromLocal8Bit(text) : QStringLiteral("archive error")));
}

Result<Done, QString> ZipWriter::open(const QString &path)
{
    m_path = path;
    m_archive.reset(archive_write_new());
    if (archive_write_set_format_zip(m_archive.get()) != ARCHIVE_OK
        || archive_write_open_filename(m_archive.get(), QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return failure();
    return Done {};
}

Result<Done, QString> ZipWriter::addDirectory(const QString &name, int mode)
{
    auto entry = newEntry(name.endsWith(QLatin1Char('/')) ? name : name + QLatin1Char('/'), AE_IFDIR, mode, 0, m_mtime);
    if (archive_write_header(m_archive.get(), entry.get()) != ARCHIVE_OK)
        return failure();
    return Done {};
}

Result<Done, QString> ZipWriter::addFile(const QString &name, const QByteArray &content, int mode)
{
    auto entry = newEntry(name, AE_IFREG, mode, content.size(), m_mtime);
    if (archive_write_header(m_archive.get(), entry.get()) != ARCHIVE_OK)
        return failure();
    if (!content.isEmpty() && archive_write_data(m_archive.get(), content.constData(), size_t(content.size())) < 0)
        return failure();
    return Done {};
}

Result<Done, QString> ZipWriter::addFileFromDisk(const QString &name, const QString &path, int mode)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<Done, QString>::failure(path + QStringLiteral(": ") + file.errorString());
    auto entry = newEntry(name, AE_IFREG, mode, file.size(), m_mtime);
    if (archive_write_header(m_archive.get(), entry.get()) != ARCHIVE_OK)
        return failure();
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0)
            return Result<Done, QString>::failure(path + QStringLiteral(": ") + file.errorString());
        if (n == 0)
            break;
        if (archive_write_data(m_archive.get(), chunk.constData(), size_t(n)) < 0)
            return failure();
    }
    return Done {};
}

Result<Done, QString> ZipWriter::addSymlink(const QString &name, const QString &target)
{
    auto entry = newEntry(name, AE_IFLNK, 0777, 0, m_mtime);
    archive_entry_set_symlink_utf8(entry.get(), target.toUtf8().constData());
    if (archive_write_header(m_archive.get(), entry.get()) != ARCHIVE_OK)
        return failure();
    return Done {};
}

Result<Done, QString> ZipWriter::close()
{
    if (archive_write_close(m_archive.get()) != ARCHIVE_OK)
        return failure();
    m_archive.reset();
    return Done {};
}
