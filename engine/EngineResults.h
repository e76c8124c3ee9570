#pragma once

#include "plugin-api/PluginApi.h"

namespace tonemirror::engine {

// The engine's own result codes (never returned across the plug-in boundary).
// The path is not in the track table: the file has to be analysed first.
inline constexpr HResult E_TRACK_UNKNOWN = static_cast<HResult>(0x80040001u);
// The path is already in the track table, or the pair is already ignored.
inline constexpr HResult E_ALREADY_PRESENT = static_cast<HResult>(0x80040002u);

} // namespace tonemirror::engine
