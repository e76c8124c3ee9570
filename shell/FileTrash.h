#pragma once

#include <string>

namespace tonemirror::shell {

// A file in the trash, as the trash reported it (native byte paths).
struct TrashedFile {
    std::string originalPath;
    std::string trashedPath;
    std::string infoPath;
};

// The trash the actions use: the desktop's in the program, a folder of its own in tests.
class FileTrash {
public:
    virtual ~FileTrash() = default;
    // Moves the file to the trash. Empty on success (`entry` filled); otherwise why, in plain words,
    // and the file stays where it was.
    virtual std::string moveToTrash(const std::string& path, TrashedFile& entry) = 0;
    // Puts the file back at its original path, never replacing a file there. Empty on success.
    virtual std::string restore(const TrashedFile& entry) = 0;
};

} // namespace tonemirror::shell
