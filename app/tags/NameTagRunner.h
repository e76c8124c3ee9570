#pragma once

#include "app/tags/CConvertDlg.h"

#include <string>

namespace tonemirror::audio {
class TagAccess;
}

namespace tonemirror::app {

struct AppContext;
class FailureReport;

// Runs one direction of the name/tag conversion on one file: Tags -> Filename renames it from its
// tags (never over an existing file), Filename -> Tags writes the tags its name yields. true when the
// file was converted; otherwise the reason goes into `failures` and the file is as it was.
bool runNameTagConversion(const AppContext& context, audio::TagAccess& tags, CConvertDlg::Direction direction,
                          const std::u16string& path, const std::u16string& pattern, FailureReport& failures);

} // namespace tonemirror::app
