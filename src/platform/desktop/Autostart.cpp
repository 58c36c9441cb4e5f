#include "Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString fileName = QStringLiteral("app.velunta.Velunta.desktop");

const QString backgroundArgument = QStringLiteral("--background");

// Index in LINES of the first KEY line of the [Desktop Entry] group, or -1.
qsizetype entryLine(const QList<QByteArray> &lines, const QByteArray &key)
{
    bool inEntry = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == key)
            return i;
    }
    return -1;
}

QString lineValue(const QByteArray &line)
{
    return QString::fromUtf8(line.mid(line.indexOf('=') + 1).trimmed());
}

// Value of KEY in the [Desktop Entry] group, or a null string.
QString entryValue(const QByteArray &text, const QByteArray &key)
{
    const QList<QByteArray> lines = text.split('\n');
    const qsizetype at = entryLine(lines, key);
    return at < 0 ? QString() : lineValue(lines.at(at));
}

} // namespace

Autostart::Autostart(QString program, QObject *parent)
    : QObject(parent)
    , m_program(std::move(program))
{
    if (m_program.isEmpty())
        m_program = QCoreApplication::applicationFilePath();
}

QString Autostart::entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
        + fileName;
}

QString Autostart::execArgument(const QString &program)
{
    // Reserved characters of the Exec key force quoting; inside quotes ", `, $
    // and \ take a backslash, and the key's own string escaping doubles each
    // backslash once more.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString argument = program;
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (!needsQuotes)
        return argument;
    QString quoted;
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\\'))
            quoted += QStringLiteral("\\\\\\");
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray Autostart::entryText(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Velunta\n"
                          "Comment=Abre o Velunta na bandeja do sistema ao entrar no sistema\n"
                          "Exec=%1\n"
                          "Icon=app.velunta.Velunta\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execValue(program))
        .toUtf8();
}

QString Autostart::execValue(const QString &program)
{
    return execArgument(program) + QLatin1Char(' ') + backgroundArgument;
}

bool Autostart::isEnabled() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.read(64 * 1024);
    return entryValue(text, "Hidden") != QLatin1String("true")
        && entryValue(text, "X-GNOME-Autostart-enabled") != QLatin1String("false");
}

bool Autostart::setEnabled(bool enabled)
{
    const QString path = entryPath();
    bool ok = true;
    if (enabled) {
        QSaveFile file(path);
        ok = QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
            && file.write(entryText(m_program)) >= 0 && file.commit();
        setErrorText(ok ? QString() : QStringLiteral("Não foi possível criar %1: %2").arg(path, file.errorString()));
    } else {
        QFile file(path);
        ok = !file.exists() || file.remove();
        setErrorText(ok ? QString() : QStringLiteral("Não foi possível apagar %1: %2").arg(path, file.errorString()));
    }
    emit enabledChanged();
    return ok;
}

bool Autostart::updateOldEntry()
{
    const QString path = entryPath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // no entry, nothing to update
    // Larger than any entry Velunta writes: someone else's file.
    if (file.size() > 64 * 1024)
        return true;
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    // Exactly what an older Velunta wrote for this program, and nothing else.
    const qsizetype exec = entryLine(lines, "Exec");
    if (exec < 0 || lineValue(lines.at(exec)) != execArgument(m_program))
        return true;
    lines[exec] = "Exec=" + execValue(m_program).toUtf8();

    QSaveFile updated(path);
    const bool ok = updated.open(QIODevice::WriteOnly) && updated.write(lines.join('\n')) >= 0 && updated.commit();
    setErrorText(ok ? QString() : QStringLiteral("Não foi possível atualizar %1: %2").arg(path, updated.errorString()));
    return ok;
}

void Autostart::refresh()
{
    emit enabledChanged();
}

void Autostart::setErrorText(const QString &text)
{
    if (m_errorText == text)
        return;
    m_errorText = text;
    emit errorTextChanged();
}
