#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks for. Arguments are compared by exact string
// equality; the first occurrence of a flag wins; the modes are tried in a
// fixed order, whatever their order on the command line.
struct LaunchOptions {
    enum class Mode { normal, updateTest, updateReport, selfTest, mergeTest, uiSnapshots };

    Mode mode = Mode::normal;
    QString manifest;  // update test: the manifest argument, verbatim
    QString path;      // the mode's file or folder, absolute
    bool install = false;
    bool isManual = true;

    bool operator==(const LaunchOptions &) const = default;

    // ARGUMENTS includes the program path at index 0; relative paths are
    // taken against WORKINGDIRECTORY.
    static LaunchOptions parse(const QStringList &arguments, const QString &workingDirectory);

    // The element after the first NAME, as an absolute path; nullopt when NAME
    // is absent or last. The value is taken verbatim, even if it starts "--".
    static std::optional<QString> argumentValue(const QStringList &arguments, const QString &name,
                                                const QString &workingDirectory);

    // Modes that draw nothing on a screen run without a display too.
    bool needsScreen() const { return mode == Mode::normal || mode == Mode::selfTest; }
    bool isDiagnostic() const { return mode != Mode::normal; }
};
