// The report file: rewritten whole and atomically after every line, into a
// folder made on the way; failures to write lose no line and stop nothing.
#include "diagnostics/SelfTestReport.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void flush(SelfTestReport &report)
{
    QCoro::waitFor(report.flush());
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

TEST(SelfTestReport, EveryLineRewritesTheWholeFileWithAFinalLineFeed)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("relatorios/hoje/autoteste");
    SelfTestReport report(folder, "result.txt");
    EXPECT_FALSE(QFile::exists(report.path())) << "nothing written before the first line";

    report.record("tela0: 1920x1080 pontos, escala 1.0");
    flush(report);
    EXPECT_EQ(TestSupport::readFile(folder + "/result.txt"), "tela0: 1920x1080 pontos, escala 1.0\n");

    report.record("OK seleção: ação");
    report.record("FIM");
    flush(report);
    EXPECT_EQ(TestSupport::readFile(folder + "/result.txt"),
        QString("tela0: 1920x1080 pontos, escala 1.0\nOK seleção: ação\nFIM\n").toUtf8());
    EXPECT_EQ(filesIn(folder), QStringList {"result.txt"}) << "no temporary file left beside it";
}

TEST(SelfTestReport, ManyLinesInQuickSuccessionEndWithTheWholeList)
{
    QTemporaryDir dir;
    SelfTestReport report(dir.path(), "result.txt");
    QByteArray expected;
    for (int i = 0; i < 200; ++i) {
        report.record(QString("OK linha %1").arg(i));
        expected += "OK linha " + QByteArray::number(i) + "\n";
    }
    flush(report);
    EXPECT_EQ(TestSupport::readFile(report.path()), expected);
    EXPECT_EQ(report.lines().size(), 200);
}

TEST(SelfTestReport, AnEarlierReportIsReplacedNotAppendedTo)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("result.txt"), "linha antiga\nFIM\n");
    SelfTestReport report(dir.path(), "result.txt");
    report.record("FAIL permission: Gravação de Tela não autorizada");
    flush(report);
    EXPECT_EQ(TestSupport::readFile(dir.filePath("result.txt")),
        QString("FAIL permission: Gravação de Tela não autorizada\n").toUtf8());
}

TEST(SelfTestReport, AFolderThatCannotBeMadeLosesNoLineAndStopsNothing)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("arquivo"), "not a folder");
    const QString folder = dir.filePath("arquivo/autoteste");
    SelfTestReport report(folder, "result.txt");
    report.record("tela0: 1920x1080 pontos, escala 1.0");
    report.record("FIM");
    flush(report);
    EXPECT_EQ(report.lines(), (QStringList {"tela0: 1920x1080 pontos, escala 1.0", "FIM"}));
    EXPECT_FALSE(QFile::exists(report.path()));
    EXPECT_FALSE(SelfTestReport::write(folder, report.path(), report.lines()));
    EXPECT_EQ(TestSupport::readFile(dir.filePath("arquivo")), "not a folder");
}
