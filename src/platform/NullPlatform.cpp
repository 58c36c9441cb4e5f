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

Result<std::unique_ptr<FrameStream>, PlatformError> NullFrameSource::open(const FrameArea &)
{
    return Result<std::unique_ptr<FrameStream>, PlatformError>::failure(
        {QStringLiteral("Nenhuma tela que o Velunta consiga gravar está disponível.")});
}

Result<std::unique_ptr<AudioStream>, PlatformError> NullAudioSource::open(
    SoundSource, const QString &, int, int, OnChunk, OnFailure)
{
    return Result<std::unique_ptr<AudioStream>, PlatformError>::failure(
        {QStringLiteral("Não foi possível gravar o áudio: nenhum servidor de som disponível")});
}

Result<QList<QUrl>, QString> NullClipboardProbe::roundTrip(const QList<QUrl> &, std::chrono::milliseconds)
{
    return Result<QList<QUrl>, QString>::failure(QStringLiteral("nenhum sistema de janelas com área de transferência"));
}
