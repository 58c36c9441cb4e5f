#include "diagnostics/SelfTestReport.h"

#include <QCoroFuture>
#include <QDir>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

#include <mutex>

struct SelfTestReport::WriteOrder {
    std::mutex mutex;
    qsizetype written = 0;
};

SelfTestReport::SelfTestReport(QString folderPath, QString fileName)
    : m_folderPath(std::move(folderPath))
    , m_fileName(std::move(fileName))
    , m_order(std::make_shared<WriteOrder>())
{
}

QString SelfTestReport::path() const
{
    return QDir(m_folderPath).filePath(m_fileName);
}

bool SelfTestReport::write(const QString &folderPath, const QString &path, const QStringList &lines)
{
    if (!QDir().mkpath(folderPath))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void SelfTestReport::record(QString line)
{
    m_lines.append(std::move(line));
    const QStringList snapshot = m_lines;
    const QString folder = m_folderPath;
    const QString target = path();
    const std::shared_ptr<WriteOrder> order = m_order;
    // Writes of two lines in quick succession may run on two threads at
    // once; whichever holds more lines wins.
    m_lastWrite = QtConcurrent::run([snapshot, folder, target, order] {
        const std::lock_guard lock(order->mutex);
        if (snapshot.size() <= order->written)
            return;
        write(folder, target, snapshot);
        order->written = snapshot.size();
    });
}

QCoro::Task<void> SelfTestReport::flush()
{
    // The last write either ran after every earlier one or made them moot.
    QFuture<void> last = m_lastWrite;
    co_await last;
}
