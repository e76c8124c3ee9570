#pragma once

#include "platform/os/DesktopTrash.h"
#include "shell/FileTrash.h"

namespace tonemirror::shell {

// The desktop's trash, as the clean-up actions use it.
class DesktopFileTrash : public FileTrash {
public:
    DesktopFileTrash() : trash_(os::DesktopTrash::fromProcess()) {}
    explicit DesktopFileTrash(os::TrashEnvironment environment) : trash_(std::move(environment)) {}

    std::string moveToTrash(const std::string& path, TrashedFile& entry) override;
    std::string restore(const TrashedFile& entry) override;

private:
    os::DesktopTrash trash_;
};

} // namespace tonemirror::shell
