#pragma once

#include <QCoroTask>
#include <QString>

class Preferences;

// Command-line checks of the update path, reporting one line into a file.
namespace UpdateTest {

// Fetches MANIFESTURL, decides as a check with bucket 50 and no skipped
// build would, downloads and verifies the release, and writes one line to
// REPORTPATH: REJEITADO <error>, SEM_OFERTA <decision> or VALIDO <build>.
// With INSTALL it hands the release to the helper instead (8-second
// confirmation) and the version the helper starts writes the RODANDO line.
QCoro::Task<void> run(QString manifestURL, QString reportPath, bool install, bool isManual);

// "RODANDO build=<running build> ignorada=<skipped build>", written atomically.
void writeRunningReport(const QString &reportPath, const Preferences &preferences);

// Replaces REPORTPATH with LINE and a line feed, atomically; errors ignored.
void writeReportLine(const QString &reportPath, const QString &line);

} // namespace UpdateTest
