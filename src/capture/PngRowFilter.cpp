#include "capture/PngRowFilter.h"

#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// A filtered byte's weight: its distance from zero read as signed.
inline unsigned weightOf(uchar value)
{
    const uchar negated = uchar(-value);
    return value < negated ? value : negated;
}

inline uchar paethPredictor(uchar left, uchar above, uchar aboveLeft)
{
    const int estimate = left + above - aboveLeft;
    const int toLeft = estimate > left ? estimate - left : left - estimate;
    const int toAbove = estimate > above ? estimate - above : above - estimate;
    const int toAboveLeft = estimate > aboveLeft ? estimate - aboveLeft : aboveLeft - estimate;
    if (toLeft <= toAbove && toLeft <= toAboveLeft)
        return left;
    return toAbove <= toAboveLeft ? above : aboveLeft;
}

struct Weights {
    quint64 none = 0;
    quint64 sub = 0;
    quint64 up = 0;
    quint64 paeth = 0;
};

// Bytes [from, to) one at a time; LEFT and ABOVE-LEFT are zero before BPP.
void filterBytes(const uchar *raw, const uchar *above, qsizetype from, qsizetype to, int bpp, uchar *subRow,
    uchar *upRow, uchar *paethRow, Weights &weights)
{
    for (qsizetype i = from; i < to; ++i) {
        const uchar left = i >= bpp ? raw[i - bpp] : 0;
        const uchar aboveLeft = i >= bpp ? above[i - bpp] : 0;
        subRow[i] = uchar(raw[i] - left);
        upRow[i] = uchar(raw[i] - above[i]);
        paethRow[i] = uchar(raw[i] - paethPredictor(left, above[i], aboveLeft));
        weights.none += weightOf(raw[i]);
        weights.sub += weightOf(subRow[i]);
        weights.up += weightOf(upRow[i]);
        weights.paeth += weightOf(paethRow[i]);
    }
}

#if defined(__SSE2__)

inline __m128i absoluteDifference(__m128i a, __m128i b)
{
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}

// All ones where A <= B, as unsigned bytes.
inline __m128i atMost(__m128i a, __m128i b)
{
    return _mm_cmpeq_epi8(_mm_min_epu8(a, b), a);
}

inline __m128i select(__m128i mask, __m128i ifSet, __m128i otherwise)
{
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, otherwise));
}

// The weights of 16 filtered bytes, summed into two 64-bit lanes.
inline __m128i weigh(__m128i sums, __m128i bytes)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i magnitude = _mm_min_epu8(bytes, _mm_sub_epi8(zero, bytes));
    return _mm_add_epi64(sums, _mm_sad_epu8(magnitude, zero));
}

inline quint64 total(__m128i sums)
{
    return quint64(_mm_cvtsi128_si64(sums)) + quint64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}

// Bytes [from, from + 16 × n): left and above-left are read BPP bytes back,
// so FROM is at least BPP.
qsizetype filterVectors(const uchar *raw, const uchar *above, qsizetype from, qsizetype length, int bpp, uchar *subRow,
    uchar *upRow, uchar *paethRow, Weights &weights)
{
    __m128i noneSums = _mm_setzero_si128();
    __m128i subSums = _mm_setzero_si128();
    __m128i upSums = _mm_setzero_si128();
    __m128i paethSums = _mm_setzero_si128();
    qsizetype i = from;
    for (; i + 16 <= length; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(raw + i));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(raw + i - bpp));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(above + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(above + i - bpp));

        // Paeth on bytes: with p = a + b - c, |p - a| = |b - c| and
        // |p - b| = |a - c|; |p - c| is their sum when b - c and a - c have
        // the same sign, else their difference. A sum past 255 saturates,
        // which keeps both comparisons against it right.
        const __m128i toLeft = absoluteDifference(b, c);
        const __m128i toAbove = absoluteDifference(a, c);
        const __m128i sameSign = _mm_cmpeq_epi8(atMost(c, a), atMost(c, b));
        const __m128i toAboveLeft
            = select(sameSign, _mm_adds_epu8(toLeft, toAbove), absoluteDifference(toLeft, toAbove));
        const __m128i pickLeft = _mm_and_si128(atMost(toLeft, toAbove), atMost(toLeft, toAboveLeft));
        const __m128i predictor = select(pickLeft, a, select(atMost(toAbove, toAboveLeft), b, c));

        const __m128i subBytes = _mm_sub_epi8(x, a);
        const __m128i upBytes = _mm_sub_epi8(x, b);
        const __m128i paethBytes = _mm_sub_epi8(x, predictor);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(subRow + i), subBytes);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(upRow + i), upBytes);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(paethRow + i), paethBytes);
        noneSums = weigh(noneSums, x);
        subSums = weigh(subSums, subBytes);
        upSums = weigh(upSums, upBytes);
        paethSums = weigh(paethSums, paethBytes);
    }
    weights.none += total(noneSums);
    weights.sub += total(subSums);
    weights.up += total(upSums);
    weights.paeth += total(paethSums);
    return i;
}

#endif

} // namespace

namespace PngRowFilter {

Type filterRow(const uchar *raw, const uchar *above, qsizetype length, int bpp, uchar *scratch, uchar *out)
{
    // Paeth is written in place, the others aside: on screens it wins most.
    uchar *paethRow = out + 1;
    uchar *subRow = scratch;
    uchar *upRow = scratch + length;
    Weights weights;
    const qsizetype head = length < bpp ? length : bpp;
    filterBytes(raw, above, 0, head, bpp, subRow, upRow, paethRow, weights);
    qsizetype done = head;
#if defined(__SSE2__)
    done = filterVectors(raw, above, done, length, bpp, subRow, upRow, paethRow, weights);
#endif
    filterBytes(raw, above, done, length, bpp, subRow, upRow, paethRow, weights);

    Type best = none;
    quint64 lightest = weights.none;
    for (auto [type, weight] :
        {std::pair {sub, weights.sub}, std::pair {up, weights.up}, std::pair {paeth, weights.paeth}}) {
        if (weight < lightest) {
            lightest = weight;
            best = type;
        }
    }
    out[0] = best;
    if (best == none)
        std::memcpy(out + 1, raw, size_t(length));
    else if (best == sub)
        std::memcpy(out + 1, subRow, size_t(length));
    else if (best == up)
        std::memcpy(out + 1, upRow, size_t(length));
    return best;
}

} // namespace PngRowFilter
