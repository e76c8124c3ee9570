#pragma once

#include <csignal>
#include <filesystem>
#include <string>

namespace tonemirror::wmf {

// Copies being written are remembered here, so that SIGINT, SIGTERM or SIGHUP removes them before
// the signal takes its course (the handler the program had is called after, or the default action
// ends the program as before). A signal the program ignores stays ignored. Returns the slot to pass
// to forgetCopy, or -1 when all slots are taken (the copy is then only removed on the next write).
int rememberCopy(const std::string& path);
void forgetCopy(int slot);

// Holds SIGINT, SIGTERM and SIGHUP back on this thread while it lives, so a copy is never created
// without being remembered; installs the handler first.
class CopySignalsHeld {
public:
    CopySignalsHeld();
    ~CopySignalsHeld();
    CopySignalsHeld(const CopySignalsHeld&) = delete;
    CopySignalsHeld& operator=(const CopySignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// Copies of ours in `folder` that a killed program left behind: owned by this user, older than a day
// and locked by no write. Looked for once an hour per folder, since a folder may hold thousands of files.
void removeStaleCopies(const std::filesystem::path& folder);

} // namespace tonemirror::wmf
