#pragma once

#include "plugins/compresscodec/ByteSource.h"
#include "plugins/compresscodec/SourceFormat.h"

namespace tonemirror::compresscodec {

// Takes the audio format record of the first stream properties object of an ASF file. On success the
// source stands at offset 0 and out.bytesLeft covers the whole file: the codec is fed the file as is.
bool parseAsf(ByteSource& source, SourceFormat& out);

} // namespace tonemirror::compresscodec
