#pragma once

#include <cstdint>
#include <functional>

namespace kavel {

// Splits the rows of one picture into bands and works them on several processors at once, for
// per-pixel work on the conversion's worker thread (colour conversion, colour effects) that
// would otherwise leave the machine's other processors idle while the encoder waits for it.
//
// work(firstRow, endRow) is called once per band, for every row in [0, rows) exactly once; band
// edges fall on multiples of rowStep (2 for pictures with half-height chroma). Bands run on
// helper threads that belong to the calling thread (started at its first split, ended with it)
// and on the calling thread itself; the call returns when all bands are done. Pictures too
// small to be worth the hand-over (under about 64 K pixels per band) run in one call on the
// calling thread. An exception thrown by work is rethrown here once every band has ended.
// work must only touch its own rows.
void RunInRowBands(int rows, int rowStep, int64_t pixelsPerRow, const std::function<void(int firstRow, int endRow)>& work);

}  // namespace kavel
