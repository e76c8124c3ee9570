#include "shell/CrashHandler.h"

#include "platform/os/Paths.h"
#include "tonemirror/Version.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tonemirror::shell {

namespace {

// Everything below runs inside a signal handler: no allocation, no stdio, no locks. Paths are
// prepared at installation into fixed buffers; numbers are formatted by hand.

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kFolderCapacity = 4096;
constexpr std::size_t kAltStackSize = 128 * 1024;
constexpr int kMaxFrames = 128;

struct Folder {
    char path[kFolderCapacity] = {}; // ends with a separator; empty = not used
    std::size_t length = 0;
};

// A signal handler reaches its data only through process-wide storage; this is the one place the
// program keeps such state.
struct CrashState {
    Folder program;
    Folder userData;
    std::atomic<bool> handling{false};
};
CrashState gCrash;
static_assert(std::atomic<bool>::is_always_lock_free,
              "the handler's guard must be usable in a signal handler");

// Fixed-size text assembled without allocation.
class Text {
public:
    void add(const char* text) { add(text, std::strlen(text)); }
    void add(const char* text, std::size_t length) {
        const std::size_t n = std::min(length, sizeof(buffer_) - 1 - length_);
        std::memcpy(buffer_ + length_, text, n);
        length_ += n;
        buffer_[length_] = '\0';
    }
    void decimal(std::uint64_t value, int minDigits = 1) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 || count < minDigits);
        while (count > 0) {
            add(&digits[--count], 1);
        }
    }
    void signedDecimal(std::int64_t value) {
        if (value < 0) {
            add("-");
            decimal(static_cast<std::uint64_t>(-(value + 1)) + 1);
        } else {
            decimal(static_cast<std::uint64_t>(value));
        }
    }
    void hex(std::uint64_t value) {
        char digits[16];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value & 15];
            value >>= 4;
        } while (value != 0);
        add("0x");
        while (count > 0) {
            add(&digits[--count], 1);
        }
    }
    const char* data() const { return buffer_; }
    std::size_t size() const { return length_; }

private:
    char buffer_[512] = {};
    std::size_t length_ = 0;
};

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void writeText(int fd, const Text& text) {
    writeAll(fd, text.data(), text.size());
}

const char* signalName(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "?";
    }
}

bool hasFaultAddress(int signal) {
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE;
}

struct CivilTime {
    std::int64_t year;
    int month, day, hour, minute, second;
};

// Days since 1970-01-01 to the proleptic Gregorian date, by pure arithmetic (gmtime is not
// async-signal-safe).
CivilTime civilTime(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return CivilTime{year,
                     month,
                     day,
                     static_cast<int>(rest / 3600),
                     static_cast<int>(rest / 60 % 60),
                     static_cast<int>(rest % 60)};
}

void putTwoDigits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

std::int64_t nowSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now); // async-signal-safe, unlike time zone conversion
    return static_cast<std::int64_t>(now.tv_sec);
}

// Creates every missing folder along path (which ends with a separator).
void makeFolders(char* path, std::size_t length) {
    for (std::size_t i = 1; i < length; ++i) {
        if (path[i] == '/') {
            path[i] = '\0';
            mkdir(path, 0700); // an existing folder is fine
            path[i] = '/';
        }
    }
}

// Always a new file: a link or file planted under the report's name is never written through.
int createReport(const char* path) {
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

int openReport(const char* name) {
    char path[kFolderCapacity + kCrashReportNameSize];
    if (gCrash.program.length > 0) {
        std::memcpy(path, gCrash.program.path, gCrash.program.length);
        std::memcpy(path + gCrash.program.length, name, kCrashReportNameSize);
        const int fd = createReport(path);
        if (fd >= 0) {
            return fd;
        }
    }
    if (gCrash.userData.length > 0) {
        std::memcpy(path, gCrash.userData.path, gCrash.userData.length);
        path[gCrash.userData.length] = '\0';
        makeFolders(path, gCrash.userData.length);
        std::memcpy(path + gCrash.userData.length, name, kCrashReportNameSize);
        return createReport(path);
    }
    return -1;
}

void copyMemoryMap(int out) {
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0) {
        writeAll(out, "(not readable)\n", 15);
        return;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(maps, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        writeAll(out, buffer, static_cast<std::size_t>(got));
    }
    close(maps);
}

void writeReport(int signal, const siginfo_t* info) {
    const std::int64_t now = nowSeconds();
    char name[kCrashReportNameSize];
    formatCrashReportName(now, name);
    const int fd = openReport(name);
    if (fd < 0) {
        return; // nowhere to write: the default handling still follows
    }

    Text head;
    head.add("Tonemirror " TONEMIRROR_VERSION_STRING " crash report\nsignal: ");
    head.decimal(static_cast<std::uint64_t>(signal));
    head.add(" (");
    head.add(signalName(signal));
    head.add(")\ncode: ");
    head.signedDecimal(info != nullptr ? info->si_code : 0);
    if (info != nullptr && hasFaultAddress(signal)) {
        head.add("\naddress: ");
        head.hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    } else if (info != nullptr && info->si_code <= 0) {
        head.add("\nsent by process: "); // raised or sent, not a fault
        head.signedDecimal(info->si_pid);
    }
    head.add("\nprocess: ");
    head.signedDecimal(getpid());
    head.add("\nthread: ");
    head.signedDecimal(static_cast<std::int64_t>(syscall(SYS_gettid)));
    const CivilTime t = civilTime(now);
    head.add("\ntime: ");
    head.signedDecimal(t.year);
    head.add("-");
    head.decimal(static_cast<std::uint64_t>(t.month), 2);
    head.add("-");
    head.decimal(static_cast<std::uint64_t>(t.day), 2);
    head.add(" ");
    head.decimal(static_cast<std::uint64_t>(t.hour), 2);
    head.add(":");
    head.decimal(static_cast<std::uint64_t>(t.minute), 2);
    head.add(":");
    head.decimal(static_cast<std::uint64_t>(t.second), 2);
    head.add(" UTC\n\nbacktrace:\n");
    writeText(fd, head);

    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);

    writeAll(fd, "\nmemory map:\n", 13);
    copyMemoryMap(fd);
    close(fd);
}

void onFatalSignal(int signal, siginfo_t* info, void* /*context*/) {
    const int savedErrno = errno;
    if (gCrash.handling.exchange(true)) {
        // Another thread is writing the report and will end the process; wait for that.
        for (;;) {
            const timespec second{1, 0};
            nanosleep(&second, nullptr);
        }
    }
    writeReport(signal, info);

    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    // Still blocked while this handler runs: delivered with the default action when it returns.
    raise(signal);
    errno = savedErrno;
}

bool prepareFolder(const std::filesystem::path& folder, Folder& out) {
    out.length = 0;
    out.path[0] = '\0';
    if (folder.empty()) {
        return true;
    }
    std::string text = folder.string();
    if (text.back() != '/') {
        text.push_back('/');
    }
    if (text.size() >= kFolderCapacity) {
        return false;
    }
    std::memcpy(out.path, text.c_str(), text.size() + 1);
    out.length = text.size();
    return true;
}

// The handler needs room of its own when the fault is a stack overflow. An alternate stack already
// set up (by a sanitizer runtime, say) is kept when it is large enough.
bool ensureAlternateStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
        current.ss_size >= kAltStackSize) {
        return true;
    }
    // Mapped, not static: a runtime that tears the thread's alternate stack down unmaps it.
    void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return false;
    }
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    stack.ss_flags = 0;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, kAltStackSize);
        return false;
    }
    return true;
}

} // namespace

void formatCrashReportName(std::int64_t secondsSince1970, char (&out)[kCrashReportNameSize]) {
    const CivilTime t = civilTime(secondsSince1970);
    std::memcpy(out, "crash_", 6);
    putTwoDigits(out + 6, static_cast<int>((t.year % 100 + 100) % 100));
    putTwoDigits(out + 8, t.month);
    putTwoDigits(out + 10, t.day);
    putTwoDigits(out + 12, t.hour);
    putTwoDigits(out + 14, t.minute);
    putTwoDigits(out + 16, t.second);
    std::memcpy(out + 18, ".dmp", 5);
}

HResult installCrashHandler() {
    return installCrashHandler(CrashReportFolders{os::programFolder(), os::userDataFolder()});
}

HResult installCrashHandler(const CrashReportFolders& folders) {
    if (!prepareFolder(folders.program, gCrash.program)) {
        gCrash.program.length = 0;
    }
    if (!prepareFolder(folders.userData, gCrash.userData)) {
        gCrash.userData.length = 0;
    }
    if (!ensureAlternateStack()) {
        return E_FAIL;
    }
    // The first backtrace() loads the unwinder, which allocates; do that now, not in the handler.
    void* frames[4];
    backtrace(frames, 4);

    struct sigaction action {};
    action.sa_sigaction = &onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (int signal : kFatalSignals) {
        if (sigaction(signal, &action, nullptr) != 0) {
            return E_FAIL;
        }
    }
    return S_OK;
}

} // namespace tonemirror::shell
