#pragma once

#include <QByteArray>
#include <optional>

// Joins raw deflate streams compressed apart (on different threads) into
// one, the way parallel gzip does. A compressor that cannot flush, such as
// libdeflate, marks its last block final; reopen() finds that block by
// walking the stream's blocks, clears the mark and ends the stream on a byte
// boundary with an empty stored block, after which the next stream can
// follow byte for byte. Each stream must not refer back before its own start,
// which is true of streams compressed apart.
namespace DeflateJoin {

// STREAM without its final mark, ending byte-aligned; none if STREAM is not
// one complete, well-formed deflate stream.
std::optional<QByteArray> reopen(const char *stream, qsizetype size);

} // namespace DeflateJoin
