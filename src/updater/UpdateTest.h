#pragma once

#include <QString>

// Command-line checks of the update path, reporting one line into a file.
namespace UpdateTest {

// "RODANDO build=<running build> ignorada=<skipped build>", written atomically.
void writeRunningReport(const QString &reportPath);

// Replaces REPORTPATH with LINE and a line feed, atomically; errors ignored.
void writeReportLine(const QString &reportPath, const QString &line);

} // namespace UpdateTest
