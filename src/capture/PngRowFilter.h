#pragma once

#include <QtGlobal>

// PNG's per-row filtering for the encoder, in one pass over the row: None,
// Sub, Up and Paeth are computed together with their weights (the sum of the
// filtered bytes read as signed, the usual cheap estimate of how well a row
// compresses) and the lightest is kept, ties going to the simpler filter.
// Average is left out: on screen content it almost never wins, and it costs
// as much as Paeth. SSE2 where the compiler offers it, 16 bytes at a time.
namespace PngRowFilter {

enum Type : uchar { none = 0, sub = 1, up = 2, paeth = 4 };

// Bytes of scratch that filterRow needs for a row of LENGTH bytes.
constexpr qsizetype scratchBytes(qsizetype length)
{
    return 2 * length;
}

// Filters RAW (LENGTH bytes, BPP bytes a pixel, 1 to 8) against ABOVE, the
// unfiltered row above (zeros for the first row). OUT receives the filter
// type and the filtered row, LENGTH + 1 bytes; SCRATCH holds scratchBytes.
// Returns the filter type.
Type filterRow(const uchar *raw, const uchar *above, qsizetype length, int bpp, uchar *scratch, uchar *out);

} // namespace PngRowFilter
