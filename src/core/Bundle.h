#pragma once

#include <QString>
#include <QVariantMap>
#include <optional>

// The application bundle the running program lives in:
// Velunta.app/Contents/{Info.plist, MacOS/<executable>, Helpers/, Resources/}.
// Outside a bundle (a bare build or test binary) there is no Info.plist: the
// build is 0 and the version "?".
class Bundle {
public:
    // The bundle around /proc/self/exe, or an empty bundle when there is none.
    static const Bundle &main();
    // The bundle at PATH (a ".app" folder), if it has a readable Info.plist.
    static std::optional<Bundle> at(const QString &path);
    // The bundle that holds EXECUTABLE as Contents/MacOS/<name>.
    static std::optional<Bundle> containing(const QString &executable);

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString contentsPath() const;
    QString infoPlistPath() const;
    QString helperPath() const;
    QString resourcesPath() const;

    QVariant info(const QString &key) const { return m_info.value(key); }
    const QVariantMap &infoDictionary() const { return m_info; }

    QString identifier() const;
    int build() const;
    QString version() const;
    QString executableName() const;

    // Reads an XML or binary property list into plain Qt values; nullopt when
    // the file is missing or is not a dictionary.
    static std::optional<QVariantMap> readPropertyList(const QString &file);

private:
    QString m_path;
    QVariantMap m_info;
};
