#include "capture/PngRowFilter.h"

#include <QRandomGenerator>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Row = std::vector<uchar>;

// The filters as PNG defines them, one byte at a time.
uchar paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return uchar(a);
    return uchar(pb <= pc ? b : c);
}

Row filtered(const Row &raw, const Row &above, int bpp, int type)
{
    Row out(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const int a = i >= size_t(bpp) ? raw[i - size_t(bpp)] : 0;
        const int b = above[i];
        const int c = i >= size_t(bpp) ? above[i - size_t(bpp)] : 0;
        const int predictor = type == 1 ? a : type == 2 ? b : type == 4 ? paeth(a, b, c) : 0;
        out[i] = uchar(raw[i] - predictor);
    }
    return out;
}

// The lightest of None, Sub, Up and Paeth by the sum of |signed byte|, the
// first listed on a tie; its type byte and row.
Row expected(const Row &raw, const Row &above, int bpp)
{
    long lightest = -1;
    Row best;
    for (int type : {0, 1, 2, 4}) {
        const Row row = filtered(raw, above, bpp, type);
        long weight = 0;
        for (uchar byte : row)
            weight += std::abs(int(static_cast<signed char>(byte)));
        if (lightest < 0 || weight < lightest) {
            lightest = weight;
            best = row;
            best.insert(best.begin(), uchar(type));
        }
    }
    return best;
}

Row actual(const Row &raw, const Row &above, int bpp)
{
    Row out(raw.size() + 1, 0xee);
    Row scratch(size_t(PngRowFilter::scratchBytes(qsizetype(raw.size()))));
    const PngRowFilter::Type type
        = PngRowFilter::filterRow(raw.data(), above.data(), qsizetype(raw.size()), bpp, scratch.data(), out.data());
    EXPECT_EQ(int(type), int(out[0]));
    return out;
}

// Bytes drawn from PICK: all values, or the extremes where the Paeth
// distances overflow a byte and signed weights change sign.
Row randomRow(QRandomGenerator &random, size_t length, bool extremes)
{
    static constexpr std::array<uchar, 8> edges {0, 1, 2, 127, 128, 129, 254, 255};
    Row row(length);
    for (uchar &byte : row)
        byte = extremes ? edges[random.bounded(int(edges.size()))] : uchar(random.bounded(256));
    return row;
}

// Rows that look like a screen: smooth runs with steps, so that every
// filter wins somewhere.
Row smoothRow(QRandomGenerator &random, size_t length)
{
    Row row(length);
    int value = random.bounded(256);
    for (uchar &byte : row) {
        if (random.bounded(8) == 0)
            value = random.bounded(256);
        value = (value + random.bounded(3) - 1) & 255;
        byte = uchar(value);
    }
    return row;
}

} // namespace

TEST(PngRowFilter, MatchesTheReferenceFiltersByteForByteAtEveryWidth)
{
    QRandomGenerator random(42);
    std::array<int, 5> wins {};
    for (int bpp : {3, 4}) {
        for (int width = 1; width <= 67; ++width) {
            const size_t length = size_t(width) * size_t(bpp);
            for (int round = 0; round < 12; ++round) {
                SCOPED_TRACE(testing::Message() << "bpp " << bpp << ", width " << width << ", round " << round);
                Row raw;
                Row above;
                if (round < 4) {
                    raw = randomRow(random, length, round % 2 == 1);
                    above = randomRow(random, length, round % 2 == 1);
                } else {
                    raw = smoothRow(random, length);
                    above = round % 3 == 0 ? raw : smoothRow(random, length);
                    if (round % 4 == 1)
                        raw[random.bounded(int(length))] ^= 0x40;
                }
                const Row want = expected(raw, above, bpp);
                ASSERT_EQ(actual(raw, above, bpp), want);
                ++wins[want[0]];
            }
        }
    }
    // The cases reach every filter, so that each path was compared.
    for (int type : {0, 1, 2, 4})
        EXPECT_GT(wins[size_t(type)], 0) << "filter " << type << " never chosen";
}

TEST(PngRowFilter, OtherPixelSizesAndLongRowsMatchToo)
{
    QRandomGenerator random(7);
    for (int bpp : {1, 2, 6, 8}) {
        for (size_t length : {size_t(1), size_t(15), size_t(16), size_t(17), size_t(5760), size_t(7681)}) {
            SCOPED_TRACE(testing::Message() << "bpp " << bpp << ", length " << length);
            const Row raw = smoothRow(random, length);
            const Row above = smoothRow(random, length);
            EXPECT_EQ(actual(raw, above, bpp), expected(raw, above, bpp));
        }
    }
}

TEST(PngRowFilter, TiesGoToTheSimplerFilter)
{
    // All zeros weigh nothing whichever filter: None.
    const Row zeros(48, 0);
    EXPECT_EQ(actual(zeros, zeros, 3)[0], PngRowFilter::none);
    // The row repeats the one above: Up and Paeth both give zeros; Up wins.
    Row stripes(48);
    for (size_t i = 0; i < stripes.size(); ++i)
        stripes[i] = uchar(i * 37);
    EXPECT_EQ(actual(stripes, stripes, 3)[0], PngRowFilter::up);
}
