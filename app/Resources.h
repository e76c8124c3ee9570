#pragma once

namespace tonemirror::app {

// Registers the program's images (":/images/...") with Qt. They live in a static library, whose
// resource registration the linker would otherwise leave out. Safe to call more than once.
void loadImages();

} // namespace tonemirror::app
