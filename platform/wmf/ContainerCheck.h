#pragma once

#include "platform/wmf/FileKind.h"

namespace tonemirror::wmf {

// True when the open file's container structure checks out for writing tags into it: its size fields
// agree with each other and with the file's length, and the audio starts where the structure says.
// A player may shrug such damage off; the tag library rewrites the structure by those fields and would
// make the file unplayable. Kinds without a check of their own pass; the written copy is verified.
bool containerSound(int fd, FileKind kind);

} // namespace tonemirror::wmf
