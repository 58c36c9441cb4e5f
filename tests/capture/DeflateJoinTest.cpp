#include "capture/DeflateJoin.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <gtest/gtest.h>
#include <libdeflate.h>

namespace {

QByteArray compressed(const QByteArray &data, int level)
{
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(level);
    QByteArray out(qsizetype(libdeflate_deflate_compress_bound(compressor, size_t(data.size()))), Qt::Uninitialized);
    const size_t written = libdeflate_deflate_compress(
        compressor, data.constData(), size_t(data.size()), out.data(), size_t(out.size()));
    libdeflate_free_compressor(compressor);
    out.truncate(qsizetype(written));
    return out;
}

// Pieces compressed apart, all but the last reopened, in one zlib stream;
// unpacked by zlib itself (qUncompress) so that the check does not rest on
// libdeflate reading what libdeflate wrote.
QByteArray joinedAndUnpacked(const std::vector<QByteArray> &pieces, int level)
{
    QByteArray whole;
    QByteArray stream("\x78\x9c", 2);
    for (size_t i = 0; i < pieces.size(); ++i) {
        whole += pieces[i];
        const QByteArray deflated = compressed(pieces[i], level);
        if (i + 1 == pieces.size()) {
            stream += deflated;
            continue;
        }
        const std::optional<QByteArray> open = DeflateJoin::reopen(deflated.constData(), deflated.size());
        if (!open)
            return "reopen refused a piece";
        stream += *open;
    }
    const quint32 adler = qToBigEndian(quint32(libdeflate_adler32(1, whole.constData(), size_t(whole.size()))));
    stream.append(reinterpret_cast<const char *>(&adler), 4);
    QByteArray sized(4, Qt::Uninitialized);
    qToBigEndian(quint32(whole.size()), sized.data());
    return qUncompress(sized + stream);
}

QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// Text-like: short repeats near and far, the matches the compressor finds.
QByteArray text(qsizetype size, quint32 seed)
{
    QByteArray bytes;
    QRandomGenerator random(seed);
    while (bytes.size() < size)
        bytes += QByteArray::number(random.bounded(1000)) + " capture grab scale " + char('a' + random.bounded(26));
    bytes.truncate(size);
    return bytes;
}

} // namespace

// Every level (stored, fixed and dynamic blocks, greedy to optimal parsing)
// and every way a piece can end within its last byte.
TEST(DeflateJoin, ReopenedPiecesUnpackToTheWholeAtEveryLevel)
{
    for (int level = 0; level <= 12; ++level) {
        SCOPED_TRACE(level);
        for (const std::vector<QByteArray> &pieces : std::vector<std::vector<QByteArray>> {
                 {text(300000, 1), text(200000, 2)},
                 {noise(70000, 3), text(5000, 4), noise(100, 5)},
                 {QByteArray(1, 'x'), QByteArray(2, 'y'), QByteArray(3, 'z'), QByteArray(9, '\0')},
                 {QByteArray(), text(1000, 6), QByteArray()},
             }) {
            QByteArray whole;
            for (const QByteArray &piece : pieces)
                whole += piece;
            EXPECT_EQ(joinedAndUnpacked(pieces, level), whole);
        }
        for (int length = 1; length < 40; ++length)
            EXPECT_EQ(joinedAndUnpacked({text(length, 7), text(length, 8)}, level), text(length, 7) + text(length, 8));
    }
}

TEST(DeflateJoin, MalformedStreamsAreRefused)
{
    const QByteArray good = compressed(text(50000, 9), 6);
    ASSERT_TRUE(DeflateJoin::reopen(good.constData(), good.size()));
    // Cut short, with bytes after its end, a reserved block type, stored
    // lengths that disagree, nothing at all.
    EXPECT_FALSE(DeflateJoin::reopen(good.constData(), good.size() - 1));
    EXPECT_FALSE(DeflateJoin::reopen((good + "junk").constData(), good.size() + 4));
    EXPECT_FALSE(DeflateJoin::reopen("\x07", 1));
    EXPECT_FALSE(DeflateJoin::reopen("\x01\x05\x00\x00\x00", 5));
    EXPECT_FALSE(DeflateJoin::reopen("", 0));
    for (quint32 seed = 0; seed < 50; ++seed) {
        const QByteArray garbage = noise(200, seed);
        // Random bytes may rarely form a stream; when they do, it must end
        // byte-aligned with the empty stored block.
        if (const auto open = DeflateJoin::reopen(garbage.constData(), garbage.size())) {
            EXPECT_TRUE(open->endsWith(QByteArray("\x00\x00\xff\xff", 4)));
        }
    }
}
