#include "UpdateTest.h"

#include "app/Bundle.h"
#include "app/Settings.h"

#include <QSaveFile>

namespace UpdateTest {

void writeReportLine(const QString &reportPath, const QString &line)
{
    QSaveFile file(reportPath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write((line + QLatin1Char('\n')).toUtf8());
    file.commit();
}

void writeRunningReport(const QString &reportPath)
{
    writeReportLine(reportPath, QStringLiteral("RODANDO build=%1 ignorada=%2")
                                    .arg(Bundle::main().build())
                                    .arg(Settings::skippedUpdateBuild()));
}

} // namespace UpdateTest
