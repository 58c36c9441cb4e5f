#pragma once

#include <cstdint>
#include <deque>
#include <vector>

// Sums sound streams that share one time line into a single stream, as the
// first audio track of a recording that has both system audio and the
// microphone, so that players and tools that take only the first track
// still get everything.
//
// Each input is numbered in samples from the segment's start, exactly as its
// own track is; the mix follows the input that is furthest behind, so it
// never gets ahead of what it has heard. The sum goes through a limiter:
// the gain drops at once to whatever keeps the loudest channel under
// `ceiling` (a sum of two loud sources would otherwise clip) and comes back
// to 1 over `releaseSeconds`, so that quiet passages are the plain sum.
class AudioMix {
public:
    static constexpr float ceiling = 0.98f;
    static constexpr double releaseSeconds = 0.25;

    AudioMix(int inputs, int channels, int sampleRate);

    // FRAMES interleaved samples (null: silence) of INPUT, the first of them
    // at sample AT of the time line. Samples before what the input already
    // has (filled as silence by fillTo) are left out; a gap after it is
    // filled with silence.
    void add(int input, int64_t at, const float *samples, int64_t frames);
    // Treats every input as silent up to POSITION where it has nothing yet.
    void fillTo(int64_t position);
    // Mixes everything every input has reached, appending interleaved
    // samples to OUT. Returns the number of frames appended.
    int64_t take(std::vector<float> &out);

    // Frames of mix taken so far.
    int64_t position() const { return m_position; }
    // Where INPUT's samples reach on the time line.
    int64_t inputEnd(int input) const;
    float gain() const { return m_gain; }

private:
    struct Input {
        std::deque<float> pending; // interleaved, starting at the mix's position
        int64_t end = 0;
    };

    void append(Input &input, const float *samples, int64_t frames);

    int m_channels;
    float m_release;
    std::vector<Input> m_inputs;
    int64_t m_position = 0;
    float m_gain = 1.0f;
};
