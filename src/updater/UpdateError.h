#pragma once

#include <QString>

// Every way the update path can fail. The text shown to the user is
// message(); reports print shortForm(). Errors that come from the system
// (files, network, processes) travel as `platform` with the system's own text.
class UpdateError {
public:
    enum Case {
        server, // payload: HTTP status
        wrongBundle, // payload: detail
        notConfigured,
        insecureURL,
        invalidManifest,
        wrongSize,
        wrongHash,
        wrongSignature,
        invalidPackage,
        wrongCodeSignature,
        installerMissing,
        platform, // payload: the system's description
    };

    // The two details that `wrongBundle` carries.
    static inline const QString differentIdentifier = QStringLiteral("identificador diferente");
    static inline const QString differentBuild = QStringLiteral("número de versão diferente do anunciado");

    UpdateError(Case c)
        : m_case(c)
    {
    }
    UpdateError(Case c, int status)
        : m_case(c)
        , m_status(status)
    {
    }
    UpdateError(Case c, QString detail)
        : m_case(c)
        , m_detail(std::move(detail))
    {
    }

    // A failed system call, with the file it was about when there is one.
    static UpdateError fromErrno(int error);
    static UpdateError fromErrno(const QString &path, int error);

    Case kind() const { return m_case; }
    int status() const { return m_status; }
    const QString &detail() const { return m_detail; }

    // The Portuguese sentence shown to the user (or the system's text).
    QString message() const;
    // The case name, with the payload in parentheses for `server` and
    // `wrongBundle`; a platform error prints as its description.
    QString shortForm() const;

    bool operator==(const UpdateError &) const = default;

private:
    Case m_case;
    int m_status = 0;
    QString m_detail;
};
