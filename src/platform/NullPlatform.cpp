#include "platform/NullPlatform.h"

QCoro::Task<Result<QImage, PlatformError>> NullScreenSource::grab(GrabRequest)
{
    co_return Result<QImage, PlatformError>::failure(
        {QStringLiteral("Nenhuma tela que o Velunta consiga capturar está disponível.")});
}

QList<int> NullHotKeys::registerShortcuts(const QList<QKeyCombination> &combinations)
{
    QList<int> unavailable;
    for (qsizetype i = 0; i < combinations.size(); ++i)
        unavailable.append(m_count++);
    return unavailable;
}
