#pragma once

#include "plugins/compresscodec/ByteSource.h"
#include "plugins/compresscodec/SourceFormat.h"

namespace tonemirror::compresscodec {

// Parses a RIFF/WAVE file from its first byte: the format chunk must come first; chunks up to "data"
// are skipped. On success the source stands at the first audio byte and out.bytesLeft holds the data
// size, clamped to what the file holds.
bool parseWave(ByteSource& source, SourceFormat& out);

} // namespace tonemirror::compresscodec
