#include "recording/AudioMix.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

AudioMix::AudioMix(int inputs, int channels, int sampleRate)
    : m_channels(std::max(1, channels))
    // Per frame, the gain closes this share of its distance to 1.
    , m_release(float(1.0 - std::exp(-1.0 / (releaseSeconds * std::max(1, sampleRate)))))
    , m_inputs(size_t(std::max(1, inputs)))
{
}

int64_t AudioMix::inputEnd(int input) const
{
    return input >= 0 && size_t(input) < m_inputs.size() ? m_inputs[size_t(input)].end : 0;
}

void AudioMix::append(Input &input, const float *samples, int64_t frames)
{
    const size_t count = size_t(frames) * size_t(m_channels);
    if (!samples) {
        input.pending.insert(input.pending.end(), count, 0.0f);
    } else {
        // A broken driver's NaN or infinity would poison the limiter for good.
        for (size_t i = 0; i < count; ++i)
            input.pending.push_back(std::isfinite(samples[i]) ? samples[i] : 0.0f);
    }
    input.end += frames;
}

void AudioMix::add(int input, int64_t at, const float *samples, int64_t frames)
{
    if (input < 0 || size_t(input) >= m_inputs.size() || frames <= 0)
        return;
    Input &in = m_inputs[size_t(input)];
    if (at > in.end)
        append(in, nullptr, at - in.end);
    const int64_t skip = std::min(frames, in.end - at);
    if (skip >= frames)
        return;
    append(in, samples ? samples + skip * m_channels : nullptr, frames - skip);
}

void AudioMix::fillTo(int64_t position)
{
    for (Input &in : m_inputs)
        if (position > in.end)
            append(in, nullptr, position - in.end);
}

int64_t AudioMix::take(std::vector<float> &out)
{
    int64_t ready = INT64_MAX;
    for (const Input &in : m_inputs)
        ready = std::min(ready, in.end - m_position);
    if (ready <= 0)
        return 0;
    const size_t channels = size_t(m_channels);
    const size_t first = out.size();
    out.resize(first + size_t(ready) * channels, 0.0f);
    float *mixed = out.data() + first;
    const std::deque<float> &firstPending = m_inputs.front().pending;
    std::copy(firstPending.begin(), firstPending.begin() + std::ptrdiff_t(size_t(ready) * channels), mixed);
    for (size_t i = 1; i < m_inputs.size(); ++i) {
        const std::deque<float> &pending = m_inputs[i].pending;
        for (size_t s = 0; s < size_t(ready) * channels; ++s)
            mixed[s] += pending[s];
    }
    for (Input &in : m_inputs)
        in.pending.erase(in.pending.begin(), in.pending.begin() + std::ptrdiff_t(size_t(ready) * channels));

    for (int64_t frame = 0; frame < ready; ++frame) {
        float *samples = mixed + size_t(frame) * channels;
        float peak = 0.0f;
        for (size_t c = 0; c < channels; ++c)
            peak = std::max(peak, std::fabs(samples[c]));
        m_gain += (1.0f - m_gain) * m_release;
        // Instant attack: this frame is brought under the ceiling, whatever came before.
        if (peak * m_gain > ceiling)
            m_gain = ceiling / peak;
        for (size_t c = 0; c < channels; ++c)
            samples[c] = std::clamp(samples[c] * m_gain, -ceiling, ceiling);
    }
    m_position += ready;
    return ready;
}
