#include "capture/DeflateJoin.h"

#include <QtEndian>
#include <array>
#include <cstdint>
#include <vector>

namespace {

// Reads bits least significant first, as deflate packs them. Reading past
// the end gives zeros and sets `overrun`, so that decoding stays branch-light
// and the caller checks once.
class BitReader {
public:
    BitReader(const uchar *data, qsizetype size)
        : m_data(data)
        , m_size(size)
        , m_limit(qint64(size) * 8)
    {
    }

    quint32 peek(int count)
    {
        refill();
        return quint32(m_buffer & ((quint64(1) << count) - 1));
    }

    // Peeks at bits already in the buffer, without refilling.
    quint32 bufferedBits(int count) const { return quint32(m_buffer & ((quint64(1) << count) - 1)); }

    void skip(int count)
    {
        m_buffer >>= count;
        m_available -= count;
        m_position += count;
        if (m_position > m_limit)
            overrun = true;
    }

    quint32 read(int count)
    {
        if (count == 0)
            return 0;
        const quint32 value = peek(count);
        skip(count);
        return value;
    }

    void alignToByte() { read(int((8 - m_position % 8) % 8)); }
    qint64 position() const { return m_position; }
    bool overrun = false;

    // At least 56 bits in the buffer afterwards: enough for one literal or
    // length code with its extra bits and the distance code with its own.
    void refill()
    {
        if (m_available >= 56)
            return;
        if (m_next + 8 <= m_size) {
            // Whole bytes only: the bits shifted out at the top are read
            // again by the next load.
            m_buffer |= qFromLittleEndian<quint64>(m_data + m_next) << m_available;
            m_next += (63 - m_available) >> 3;
            m_available |= 56;
            return;
        }
        while (m_available <= 56) {
            const quint64 byte = m_next < m_size ? m_data[m_next] : 0;
            ++m_next;
            m_buffer |= byte << m_available;
            m_available += 8;
        }
    }

private:
    const uchar *m_data;
    qsizetype m_size;
    qint64 m_limit;
    qsizetype m_next = 0;
    quint64 m_buffer = 0;
    int m_available = 0;
    qint64 m_position = 0;
};

constexpr int maxCodeBits = 15;

constexpr std::array<quint8, 29> lengthExtraBits {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<quint8, 30> distanceExtraBits {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// What a table's entries hold: the symbol itself (the code-length code), or
// only what a walk that skips the data needs to know of it.
enum class Alphabet { codeLengths, literalsAndLengths, distances };
// Kinds of literal/length symbols, and the mark of a valid distance.
enum Kind : quint16 { noCode = 0, literal = 1, length = 2, endOfBlock = 3, distance = 1 };

// A canonical Huffman code as a table indexed by the next bits, as many as
// its longest code has. Each entry holds a value (the symbol, or its kind)
// and how many bits to skip: the code and, for lengths and distances, the
// extra bits after it, so that a walk takes a length and its distance in two
// lookups. An entry of 0 is no code.
class HuffmanTable {
public:
    bool build(const quint8 *lengths, int count, Alphabet alphabet)
    {
        std::array<int, maxCodeBits + 1> perLength {};
        for (int symbol = 0; symbol < count; ++symbol)
            ++perLength[lengths[symbol]];
        perLength[0] = 0;
        int left = 1;
        for (int bits = 1; bits <= maxCodeBits; ++bits) {
            left = left * 2 - perLength[bits];
            if (left < 0)
                return false; // more codes than lengths allow
        }
        std::array<int, maxCodeBits + 2> next {};
        for (int bits = 1; bits <= maxCodeBits; ++bits)
            next[bits + 1] = (next[bits] + perLength[bits]) << 1;
        // The table is as wide as the longest code: blocks come by the
        // hundred, and most codes stop well short of 15 bits.
        m_bits = 1;
        for (int bits = 1; bits <= maxCodeBits; ++bits)
            if (perLength[bits] != 0)
                m_bits = bits;
        m_entries.assign(size_t(1) << m_bits, 0);
        for (int symbol = 0; symbol < count; ++symbol) {
            const int bits = lengths[symbol];
            if (bits == 0)
                continue;
            const int code = next[bits]++;
            // Codes are sent most significant bit first; the table is read
            // least significant first, so reverse them.
            int reversed = 0;
            for (int bit = 0; bit < bits; ++bit)
                reversed |= ((code >> bit) & 1) << (bits - 1 - bit);
            const quint16 entry = entryFor(alphabet, symbol, bits);
            for (int fill = reversed; fill < (1 << m_bits); fill += 1 << bits)
                m_entries[size_t(fill)] = entry;
        }
        return true;
    }

    // The next symbol, or -1 for bits that are no code.
    int decode(BitReader &bits) const
    {
        const quint16 entry = m_entries[bits.peek(m_bits)];
        const int length = int(entry & 0xff);
        if (length == 0)
            return -1;
        bits.skip(length);
        return int(entry >> 8);
    }

    // The next entry, its bits skipped; BITS holds 56 or more.
    quint16 take(BitReader &bits) const
    {
        const quint16 entry = m_entries[bits.bufferedBits(m_bits)];
        bits.skip(entry & 0xff);
        return entry;
    }

private:
    static quint16 entryFor(Alphabet alphabet, int symbol, int bits)
    {
        quint16 value = quint16(symbol);
        int extra = 0;
        if (alphabet == Alphabet::literalsAndLengths) {
            value = symbol < 256 ? literal : symbol == 256 ? endOfBlock : symbol <= 285 ? length : noCode;
            if (value == length)
                extra = lengthExtraBits[size_t(symbol - 257)];
        } else if (alphabet == Alphabet::distances) {
            value = symbol < 30 ? distance : noCode;
            if (value == distance)
                extra = distanceExtraBits[size_t(symbol)];
        }
        return quint16(value << 8 | (bits + extra));
    }

    std::vector<quint16> m_entries;
    int m_bits = 1;
};

// Reads one compressed block's symbols up to its end; false if malformed.
// A refill leaves enough bits for a length, its distance and their extra
// bits, so each symbol costs one refill and a lookup or two.
bool skipSymbols(BitReader &stream, const HuffmanTable &literals, const HuffmanTable &distances)
{
    // A local copy stays in registers through the loop.
    BitReader bits = stream;
    bool ended = false;
    for (;;) {
        bits.refill();
        const quint16 symbol = literals.take(bits);
        const quint16 kind = symbol >> 8;
        if (kind == literal && !bits.overrun)
            continue;
        if (kind == length) {
            if ((distances.take(bits) >> 8) == distance && !bits.overrun)
                continue;
        } else if (kind == endOfBlock) {
            ended = !bits.overrun;
        }
        break;
    }
    stream = bits;
    return ended;
}

bool readDynamicTables(BitReader &bits, HuffmanTable &literals, HuffmanTable &distances)
{
    static constexpr std::array<quint8, 19> order {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int literalCount = int(bits.read(5)) + 257;
    const int distanceCount = int(bits.read(5)) + 1;
    const int lengthCodeCount = int(bits.read(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    std::array<quint8, 19> lengthCodeLengths {};
    for (int i = 0; i < lengthCodeCount; ++i)
        lengthCodeLengths[order[size_t(i)]] = quint8(bits.read(3));
    HuffmanTable lengthCodes;
    if (!lengthCodes.build(lengthCodeLengths.data(), 19, Alphabet::codeLengths))
        return false;
    std::array<quint8, 286 + 30> lengths {};
    int filled = 0;
    while (filled < literalCount + distanceCount) {
        const int symbol = lengthCodes.decode(bits);
        if (symbol < 0 || bits.overrun)
            return false;
        if (symbol < 16) {
            lengths[size_t(filled++)] = quint8(symbol);
            continue;
        }
        int repeat = 0;
        quint8 value = 0;
        if (symbol == 16) {
            if (filled == 0)
                return false;
            value = lengths[size_t(filled - 1)];
            repeat = 3 + int(bits.read(2));
        } else if (symbol == 17) {
            repeat = 3 + int(bits.read(3));
        } else {
            repeat = 11 + int(bits.read(7));
        }
        if (filled + repeat > literalCount + distanceCount)
            return false;
        while (repeat-- > 0)
            lengths[size_t(filled++)] = value;
    }
    if (lengths[256] == 0)
        return false; // no end-of-block code
    return literals.build(lengths.data(), literalCount, Alphabet::literalsAndLengths)
        && distances.build(lengths.data() + literalCount, distanceCount, Alphabet::distances);
}

} // namespace

namespace DeflateJoin {

std::optional<QByteArray> reopen(const char *stream, qsizetype size)
{
    BitReader bits(reinterpret_cast<const uchar *>(stream), size);
    HuffmanTable literals;
    HuffmanTable distances;
    HuffmanTable fixedLiterals;
    HuffmanTable fixedDistances;
    bool fixedBuilt = false;
    for (;;) {
        const qint64 blockStart = bits.position();
        const bool final = bits.read(1) != 0;
        const quint32 type = bits.read(2);
        if (type == 0) {
            bits.alignToByte();
            const quint32 length = bits.read(16);
            const quint32 complement = bits.read(16);
            if ((length ^ complement) != 0xffff)
                return std::nullopt;
            for (quint32 i = 0; i < length; ++i)
                bits.read(8);
        } else if (type == 1) {
            if (!fixedBuilt) {
                std::array<quint8, 288> lengths {};
                for (size_t i = 0; i < lengths.size(); ++i)
                    lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                std::array<quint8, 30> distanceLengths {};
                distanceLengths.fill(5);
                fixedLiterals.build(lengths.data(), 288, Alphabet::literalsAndLengths);
                fixedDistances.build(distanceLengths.data(), 30, Alphabet::distances);
                fixedBuilt = true;
            }
            if (!skipSymbols(bits, fixedLiterals, fixedDistances))
                return std::nullopt;
        } else if (type == 2) {
            if (!readDynamicTables(bits, literals, distances) || !skipSymbols(bits, literals, distances))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        if (bits.overrun)
            return std::nullopt;
        if (!final)
            continue;
        // The stream must end in the byte that holds its last bit.
        const qint64 end = bits.position();
        if ((end + 7) / 8 != size)
            return std::nullopt;
        QByteArray open(stream, size);
        open[blockStart / 8] = char(uchar(open[blockStart / 8]) & ~(1u << (blockStart % 8)));
        // Zero the padding after the last bit, then an empty stored block:
        // three header bits, padding to the byte, LEN 0 and NLEN 0xffff.
        if (end % 8 != 0)
            open[size - 1] = char(uchar(open[size - 1]) & ((1u << (end % 8)) - 1));
        if (end % 8 == 0 || end % 8 > 5)
            open.append(char(0));
        open.append("\x00\x00\xff\xff", 4);
        return open;
    }
}

} // namespace DeflateJoin
