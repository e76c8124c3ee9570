#include "platform/wmf/CopyCleanup.h"

#include "platform/os/WriteCopyName.h"
#include "platform/wmf/FileDescriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <map>
#include <mutex>

namespace tonemirror::wmf {

namespace {

constexpr int kSlots = 16;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Slot states: free, being filled, holding a path the handler may remove.
enum : int { kFree, kFilling, kHeld };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX] = {};
};

Slot gSlots[kSlots];
struct sigaction gPrevious[std::size(kSignals)] = {};
std::atomic<bool> gInstalled{false};

int signalIndex(int signal) {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (kSignals[i] == signal) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Runs in the signal handler: only async-signal-safe calls.
void onSignal(int signal, siginfo_t* info, void* context) {
    for (Slot& slot : gSlots) {
        if (slot.state.load() == kHeld) {
            ::unlink(slot.path);
        }
    }
    const int index = signalIndex(signal);
    if (index < 0) {
        return;
    }
    const struct sigaction& previous = gPrevious[index];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
    } else {
        // As if we had never been there: the default action, once this handler returns.
        ::sigaction(signal, &previous, nullptr);
        ::raise(signal);
    }
}

void installHandlers() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction action {};
        action.sa_sigaction = &onSignal;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        if (::sigaction(kSignals[i], nullptr, &gPrevious[i]) == 0 && gPrevious[i].sa_handler != SIG_IGN) {
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
    gInstalled = true;
}

// When the library holding the handler is unloaded, the program's own handlers come back.
struct Uninstaller {
    ~Uninstaller() {
        if (!gInstalled) {
            return;
        }
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            struct sigaction current {};
            if (::sigaction(kSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0 &&
                current.sa_sigaction == &onSignal) {
                ::sigaction(kSignals[i], &gPrevious[i], nullptr);
            }
        }
    }
} gUninstaller;

bool isStale(int folder, const char* name, std::chrono::system_clock::time_point now) {
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return false;
    }
    const auto modified = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec);
    return now - modified > std::chrono::hours(24);
}

void removeIfUnlocked(int folder, const char* name) {
    FileDescriptor fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return; // a write still holds it
    }
    struct stat opened {};
    struct stat named {};
    // Only the file we locked: not another that took its name meanwhile.
    if (::fstat(fd.get(), &opened) == 0 && ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
        ::unlinkat(folder, name, 0);
    }
}

// True when the folder was not looked at within the last hour.
bool dueForLook(const std::filesystem::path& folder) {
    static std::mutex lock;
    static std::map<std::filesystem::path, std::chrono::steady_clock::time_point> looked;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(lock);
    const auto it = looked.find(folder);
    if (it != looked.end() && now - it->second < std::chrono::hours(1)) {
        return false;
    }
    looked[folder] = now;
    return true;
}

} // namespace

CopySignalsHeld::CopySignalsHeld() {
    static std::once_flag once;
    std::call_once(once, installHandlers);
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kSignals) {
        sigaddset(&held, signal);
    }
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

CopySignalsHeld::~CopySignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int rememberCopy(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (gSlots[i].state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
            gSlots[i].state = kHeld;
            return i;
        }
    }
    return -1;
}

void forgetCopy(int slot) {
    if (slot >= 0 && slot < kSlots) {
        gSlots[slot].state = kFree;
    }
}

void removeStaleCopies(const std::filesystem::path& folder) {
    if (!dueForLook(folder)) {
        return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    while (const dirent* entry = ::readdir(dir)) {
        if (os::isWriteCopyName(entry->d_name) && isStale(::dirfd(dir), entry->d_name, now)) {
            removeIfUnlocked(::dirfd(dir), entry->d_name);
        }
    }
    ::closedir(dir);
}

} // namespace tonemirror::wmf
