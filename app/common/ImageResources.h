#pragma once

namespace tonemirror::app {

// Registers the program's images (":/images/...") once. They are compiled into the app library, whose
// static registration the linker drops when nothing else refers to it.
void loadImageResources();

} // namespace tonemirror::app
