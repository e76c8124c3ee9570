#pragma once

#include "engine/DetailsRecord.h"
#include "engine/DuplicatePair.h"

#include <memory>

namespace tonemirror::app {

// One row of the results list: the reported pair and what the list keeps of it itself, the marks
// in front of its two files and the details read when the row was first selected.
struct ResultRow {
    engine::DuplicatePair pair;
    bool marked1 = false;
    bool marked2 = false;
    std::shared_ptr<engine::DetailsRecord> details1;
    std::shared_ptr<engine::DetailsRecord> details2;

    const std::u16string& path(int side) const { return side == 1 ? pair.path1 : pair.path2; }
    bool marked(int side) const { return side == 1 ? marked1 : marked2; }
};

} // namespace tonemirror::app
