#include "UpdateError.h"

#include <cstring>

QString UpdateError::message() const
{
    switch (m_case) {
    case server:
        return QStringLiteral("O servidor de atualizações respondeu com o erro %1.").arg(m_status);
    case wrongBundle:
        return QStringLiteral("O app da atualização não confere: %1.").arg(m_detail);
    case notConfigured:
        return QStringLiteral("As atualizações não estão configuradas nesta versão.");
    case insecureURL:
        return QStringLiteral("O endereço da atualização não usa HTTPS.");
    case invalidManifest:
        return QStringLiteral("O servidor enviou informações de versão inválidas.");
    case wrongSize:
        return QStringLiteral("O arquivo baixado não tem o tamanho esperado.");
    case wrongHash:
        return QStringLiteral("O arquivo baixado está corrompido ou foi alterado.");
    case wrongSignature:
        return QStringLiteral("A assinatura da atualização não é válida.");
    case invalidPackage:
        return QStringLiteral("O pacote da atualização não contém um app válido.");
    case wrongCodeSignature:
        return QStringLiteral("O app da atualização não tem a mesma assinatura de código deste app.");
    case installerMissing:
        return QStringLiteral("O instalador de atualizações não foi encontrado neste app.");
    case platform:
        return m_detail;
    }
    return m_detail;
}

QString UpdateError::shortForm() const
{
    switch (m_case) {
    case server:
        return QStringLiteral("server(%1)").arg(m_status);
    case wrongBundle:
        return QStringLiteral("wrongBundle(\"%1\")").arg(m_detail);
    case notConfigured:
        return QStringLiteral("notConfigured");
    case insecureURL:
        return QStringLiteral("insecureURL");
    case invalidManifest:
        return QStringLiteral("invalidManifest");
    case wrongSize:
        return QStringLiteral("wrongSize");
    case wrongHash:
        return QStringLiteral("wrongHash");
    case wrongSignature:
        return QStringLiteral("wrongSignature");
    case invalidPackage:
        return QStringLiteral("invalidPackage");
    case wrongCodeSignature:
        return QStringLiteral("wrongCodeSignature");
    case installerMissing:
        return QStringLiteral("installerMissing");
    case platform:
        return m_detail;
    }
    return m_detail;
}

UpdateError UpdateError::fromErrno(int error)
{
    return UpdateError(platform, QString::fromLocal8Bit(strerror(error)));
}

UpdateError UpdateError::fromErrno(const QString &path, int error)
{
    return UpdateError(platform, path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(error)));
}
