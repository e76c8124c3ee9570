// Installs the crash handler with the folders given on the command line and then fails on purpose:
//   crash_helper PROGRAM_FOLDER USER_DATA_FOLDER MODE
// MODE: segv (prints the faulting address first), abort, ill, fpe, bus, overflow, thread.
#include "shell/CrashHandler.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>

namespace {

volatile int gDepth = 0;

// Deep enough to overflow any stack; the volatile frame keeps the compiler from turning it into a loop.
int recurse(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    gDepth = depth;
    if (depth < 0) {
        return 0;
    }
    return recurse(depth + 1) + frame[0];
}

[[noreturn]] void faultOnProtectedPage() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) {
        std::exit(4);
    }
    std::printf("%p\n", page);
    std::fflush(stdout);
    *static_cast<volatile int*>(page) = 1;
    std::exit(5);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        return 2;
    }
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore); // the default action must not leave core files around

    if (tonemirror::shell::installCrashHandler({argv[1], argv[2]}) != tonemirror::S_OK) {
        return 3;
    }
    const char* mode = argv[3];
    if (std::strcmp(mode, "segv") == 0) {
        faultOnProtectedPage();
    } else if (std::strcmp(mode, "abort") == 0) {
        std::abort();
    } else if (std::strcmp(mode, "ill") == 0) {
        __builtin_trap();
    } else if (std::strcmp(mode, "fpe") == 0) {
        std::raise(SIGFPE);
    } else if (std::strcmp(mode, "bus") == 0) {
        std::raise(SIGBUS);
    } else if (std::strcmp(mode, "overflow") == 0) {
        return recurse(argc);
    } else if (std::strcmp(mode, "thread") == 0) {
        std::thread([] { faultOnProtectedPage(); }).join();
    }
    return 6;
}
