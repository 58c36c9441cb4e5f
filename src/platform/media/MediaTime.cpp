#include "MediaTime.h"

#include <cmath>
#include <limits>
#include <numeric>

namespace {

__extension__ typedef __int128 Wide;

constexpr int64_t kMaxValue = std::numeric_limits<int64_t>::max();
constexpr int64_t kMinValue = std::numeric_limits<int64_t>::min();
constexpr int32_t kMaxScale = std::numeric_limits<int32_t>::max();

// numerator / denominator to the nearest integer, halves away from zero.
Wide divideRounded(Wide numerator, Wide denominator)
{
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    const Wide half = denominator / 2;
    const bool exactHalfPossible = denominator % 2 == 0;
    Wide quotient = numerator / denominator;
    Wide remainder = numerator % denominator;
    if (remainder < 0)
        remainder = -remainder;
    if (remainder > half || (exactHalfPossible && remainder == half && half != 0))
        quotient += numerator < 0 ? -1 : 1;
    return quotient;
}

bool fits(Wide v)
{
    return v >= kMinValue && v <= kMaxValue;
}

// Both times brought to one scale: the least common multiple when it fits.
struct Common {
    Wide a = 0;
    Wide b = 0;
    int32_t scale = 0;
    bool rounded = false;
};

Common toCommonScale(const MediaTime &a, const MediaTime &b)
{
    if (a.timeScale == b.timeScale)
        return {a.value, b.value, a.timeScale, false};
    const int64_t lcm = std::lcm(int64_t(a.timeScale), int64_t(b.timeScale));
    if (lcm <= kMaxScale) {
        const Wide va = Wide(a.value) * (lcm / a.timeScale);
        const Wide vb = Wide(b.value) * (lcm / b.timeScale);
        if (fits(va) && fits(vb))
            return {va, vb, int32_t(lcm), false};
    }
    const int32_t scale = std::max(a.timeScale, b.timeScale);
    const Wide va = divideRounded(Wide(a.value) * scale, a.timeScale);
    const Wide vb = divideRounded(Wide(b.value) * scale, b.timeScale);
    const bool lossy = va * a.timeScale != Wide(a.value) * scale || vb * b.timeScale != Wide(b.value) * scale;
    return {va, vb, scale, lossy};
}

MediaTime fromWide(Wide value, int32_t scale, bool rounded)
{
    if (!fits(value))
        return MediaTime::invalid();
    return {int64_t(value), scale, rounded};
}

} // namespace

MediaTime MediaTime::fromSeconds(double seconds, int32_t preferredTimeScale)
{
    if (preferredTimeScale <= 0 || !std::isfinite(seconds))
        return invalid();
    const double ticks = seconds * preferredTimeScale;
    if (ticks >= 9.2e18 || ticks <= -9.2e18)
        return invalid();
    const long long value = std::llround(ticks);
    return {value, preferredTimeScale, double(value) != ticks};
}

double MediaTime::seconds() const
{
    if (!isValid())
        return std::nan("");
    return double(value) / double(timeScale);
}

MediaTime MediaTime::convertScale(int32_t newTimeScale) const
{
    if (!isValid() || newTimeScale <= 0)
        return invalid();
    if (newTimeScale == timeScale)
        return *this;
    const Wide scaled = Wide(value) * newTimeScale;
    const Wide result = divideRounded(scaled, timeScale);
    return fromWide(result, newTimeScale, rounded || result * timeScale != scaled);
}

QString MediaTime::toString() const
{
    if (!isValid())
        return QStringLiteral("invalid");
    return QStringLiteral("%1/%2").arg(value).arg(timeScale);
}

std::strong_ordering operator<=>(const MediaTime &a, const MediaTime &b)
{
    if (!a.isValid() && !b.isValid())
        return std::strong_ordering::equal;
    if (!a.isValid())
        return std::strong_ordering::greater;
    if (!b.isValid())
        return std::strong_ordering::less;
    const Wide left = Wide(a.value) * b.timeScale;
    const Wide right = Wide(b.value) * a.timeScale;
    return left < right ? std::strong_ordering::less
                        : (left > right ? std::strong_ordering::greater : std::strong_ordering::equal);
}

MediaTime operator+(const MediaTime &a, const MediaTime &b)
{
    if (!a.isValid() || !b.isValid())
        return MediaTime::invalid();
    const Common c = toCommonScale(a, b);
    return fromWide(c.a + c.b, c.scale, a.rounded || b.rounded || c.rounded);
}

MediaTime operator-(const MediaTime &a, const MediaTime &b)
{
    if (!a.isValid() || !b.isValid())
        return MediaTime::invalid();
    const Common c = toCommonScale(a, b);
    return fromWide(c.a - c.b, c.scale, a.rounded || b.rounded || c.rounded);
}
