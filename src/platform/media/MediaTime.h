#pragma once

#include <QString>

#include <compare>
#include <cstdint>

// A point or length on a media time line as an exact fraction
// (value / timeScale seconds). Arithmetic never goes through floating point:
// segments are placed at sums of their lengths and a rounding drift of one
// tick per segment would show up as gaps or overlaps in the joined file.
struct MediaTime {
    int64_t value = 0;
    int32_t timeScale = 0; // 0: invalid
    bool rounded = false; // set when an operation could not stay exact

    static constexpr MediaTime zero() { return {0, 1, false}; }
    static constexpr MediaTime invalid() { return {0, 0, false}; }
    static constexpr MediaTime make(int64_t value, int32_t timeScale) { return {value, timeScale, false}; }
    // Nearest tick at the given scale (halves away from zero).
    static MediaTime fromSeconds(double seconds, int32_t preferredTimeScale);

    bool isValid() const { return timeScale > 0; }
    double seconds() const;
    // The same time at another scale, rounded to the nearest tick (halves away from zero).
    MediaTime convertScale(int32_t newTimeScale) const;
    QString toString() const;

    // Invalid times are equal to each other and greater than any valid time.
    friend std::strong_ordering operator<=>(const MediaTime &a, const MediaTime &b);
    friend bool operator==(const MediaTime &a, const MediaTime &b) { return (a <=> b) == 0; }

    // The result of mixing scales uses their least common multiple when it
    // fits, else the larger scale (and is marked rounded). Invalid in, invalid out.
    friend MediaTime operator+(const MediaTime &a, const MediaTime &b);
    friend MediaTime operator-(const MediaTime &a, const MediaTime &b);
    MediaTime &operator+=(const MediaTime &other) { return *this = *this + other; }
};

// start + duration, as a track reports its place on its file's time line.
struct TimeRange {
    MediaTime start;
    MediaTime duration;

    MediaTime end() const { return start + duration; }
    bool operator==(const TimeRange &) const = default;
};
