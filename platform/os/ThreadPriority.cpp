#include "platform/os/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tonemirror::os {

bool setLowestThreadPriority() {
    // On Linux the nice value is per thread when addressed by thread id.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    return setpriority(PRIO_PROCESS, tid, 19) == 0;
}

} // namespace tonemirror::os
