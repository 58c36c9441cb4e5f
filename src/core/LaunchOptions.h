#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks for. Arguments are compared by exact string
// equality; the first occurrence of a flag wins; the modes are tried in a
// fixed order, whatever their order on the command line. "--help",
// "--version", the capture actions and "--background" only replace what would
// otherwise be the normal run, so a diagnostic mode's value may still be any
// text at all.
struct LaunchOptions {
    enum class Mode { normal, updateTest, updateReport, selfTest, mergeTest, uiSnapshots, help, version };
    // What a normal-run launch asks the running instance to do, as Alt+Shift+1…4 would.
    enum class Action { none, screenshot, screenshotArea, record, recordArea };

    Mode mode = Mode::normal;
    Action action = Action::none;
    QString manifest; // update test: the manifest argument, verbatim
    QString path; // the mode's file or folder, absolute
    bool install = false;
    bool isManual = true;
    // Normal run only: come up in the tray without the main window, as a
    // start at login should. Never set together with an action.
    bool background = false;

    bool operator==(const LaunchOptions &) const = default;

    // ARGUMENTS includes the program path at index 0; relative paths are
    // taken against WORKINGDIRECTORY.
    static LaunchOptions parse(const QStringList &arguments, const QString &workingDirectory);

    // The element after the first NAME, as an absolute path; nullopt when NAME
    // is absent or last. The value is taken verbatim, even if it starts "--".
    static std::optional<QString> argumentValue(
        const QStringList &arguments, const QString &name, const QString &workingDirectory);

    // Modes that draw nothing on a screen run without a display too.
    bool needsScreen() const { return mode == Mode::normal || mode == Mode::selfTest; }
    bool isDiagnostic() const { return mode != Mode::normal && mode != Mode::help && mode != Mode::version; }
    // Help and version print a text and end without an application object.
    bool printsAndExits() const { return mode == Mode::help || mode == Mode::version; }

    // The command-line spelling of ACTION ("--screenshot"…); empty for none.
    static QString actionFlag(Action action);
    // The "--help" text, every option and mode, in Portuguese.
    static QString helpText();
    // The "--version" line for VERSION and BUILD.
    static QString versionText(const QString &version, int build);
};
