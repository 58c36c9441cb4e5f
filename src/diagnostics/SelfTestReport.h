#pragma once

#include <QCoroTask>
#include <QFuture>
#include <QString>
#include <QStringList>

#include <memory>

// The self-test's report: an ordered list of lines, written out whole after
// every new line (the folder made first, the file replaced atomically), so
// the file holds everything found so far even if the run is cut short.
// Writing errors are ignored: the checks go on regardless.
class SelfTestReport {
public:
    SelfTestReport(QString folderPath, QString fileName);

    // Appends LINE and starts writing the whole list again on a worker
    // thread. Writes never go back in time: a list is not written over a
    // longer one.
    void record(QString line);
    // Resumes once everything recorded so far is on disk (or failed to be).
    QCoro::Task<void> flush();

    const QStringList &lines() const { return m_lines; }
    QString path() const;

    // The lines joined by line feeds, with a final one, in UTF-8, replacing
    // PATH atomically after making FOLDERPATH and its parents. Blocks.
    static bool write(const QString &folderPath, const QString &path, const QStringList &lines);

private:
    // Shared with the writes in flight.
    struct WriteOrder;

    QString m_folderPath;
    QString m_fileName;
    QStringList m_lines;
    std::shared_ptr<WriteOrder> m_order;
    QFuture<void> m_lastWrite;
};
