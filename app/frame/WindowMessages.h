#pragma once

#include "engine/UserMessage.h"

#include <cstdint>

namespace tonemirror::app {

// Window messages only the desktop program posts to itself; they continue the engine's numbering so
// one bridge carries both.
inline constexpr std::uint32_t UM_UPDATE_RESULT = engine::WM_USER + 3;  // update check answered
inline constexpr std::uint32_t UM_CONVERT_CLOSED = engine::WM_USER + 6; // conversion panel closed
inline constexpr std::uint32_t UM_RETRANSLATE = engine::WM_USER + 7;    // texts must be re-read

} // namespace tonemirror::app
