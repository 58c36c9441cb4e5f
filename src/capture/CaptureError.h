#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <functional>

// Failures of Velunta's own making in screenshots and recordings. Each case
// carries the sentence the alert shows; platform failures travel as their
// own error values with the platform's text instead.
class CaptureError {
public:
    enum Case { displayNotFound, encodingFailed, emptyRecording };

    constexpr CaptureError(Case value)
        : m_case(value)
    {
    }

    constexpr Case value() const { return m_case; }

    QString description() const
    {
        switch (m_case) {
        case displayNotFound:
            return QStringLiteral("A tela selecionada não está mais disponível.");
        case encodingFailed:
            return QStringLiteral("Não foi possível gerar o arquivo PNG.");
        case emptyRecording:
            return QStringLiteral("A gravação terminou sem nenhum conteúdo.");
        }
        return {};
    }

    friend constexpr bool operator==(CaptureError a, CaptureError b) { return a.m_case == b.m_case; }
    friend size_t qHash(CaptureError error, size_t seed = 0) noexcept { return ::qHash(int(error.m_case), seed); }

private:
    Case m_case;
};

template <> struct std::hash<CaptureError> {
    size_t operator()(CaptureError error) const noexcept { return std::hash<int>()(int(error.value())); }
};
