#pragma once

#include <QObject>
#include <QString>

// The XDG autostart entry that opens Velunta when the user logs in:
// $XDG_CONFIG_HOME/autostart/app.velunta.Velunta.desktop. The file itself is
// the setting, not a copy of it kept elsewhere, so that a file removed or
// disabled by hand (or by the desktop's own start-up settings) reads as off.
class Autostart : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)
public:
    // PROGRAM is what the entry starts; empty means the running program.
    explicit Autostart(QString program = {}, QObject *parent = nullptr);

    static QString entryPath();
    // The entry's text for PROGRAM: it starts PROGRAM in the background.
    static QByteArray entryText(const QString &program);
    // The entry's Exec value for PROGRAM.
    static QString execValue(const QString &program);
    // PROGRAM as one argument of an Exec line, quoted where it needs to be.
    static QString execArgument(const QString &program);

    // Reads the file every time: present and not marked Hidden or disabled.
    bool isEnabled() const;
    // Writes or removes the entry; on failure the file stays as it was and
    // errorText says why.
    bool setEnabled(bool enabled);
    QString errorText() const { return m_errorText; }

    // An entry an older Velunta wrote for this program, which opened the main
    // window at every login, gets the background flag; every other line stays
    // as it was (a disabled entry stays disabled). An entry whose Exec is
    // anything else (another program, a user's own edit) is left alone. False
    // only when the rewrite failed, with the file unchanged and errorText set.
    bool updateOldEntry();

    // Tells the views to read the file again (the page comes back on screen).
    Q_INVOKABLE void refresh();

signals:
    void enabledChanged();
    void errorTextChanged();

private:
    void setErrorText(const QString &text);

    QString m_program;
    QString m_errorText;
};
