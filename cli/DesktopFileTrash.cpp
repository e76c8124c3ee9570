#include "cli/DesktopFileTrash.h"

namespace tonemirror::cli {

namespace {

// Stands in while this build has no checked desktop trash: every file stays where it is.
class NoTrash : public shell::FileTrash {
public:
    std::string moveToTrash(const std::string&, shell::TrashedFile&) override { return kWhy; }
    std::string restore(const shell::TrashedFile&) override { return kWhy; }

private:
    static constexpr const char* kWhy = "this build cannot use the desktop's trash yet";
};

} // namespace

std::unique_ptr<shell::FileTrash> desktopTrash() {
    return std::make_unique<NoTrash>();
}

} // namespace tonemirror::cli
