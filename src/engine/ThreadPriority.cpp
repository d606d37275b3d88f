#include "engine/ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kavel {

namespace {

constexpr int MinNice = -20;
constexpr int MaxNice = 19;

pid_t CurrentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// The nice value of the process as a whole: the one of its first thread, which new threads of
// the main window and the command line inherit.
int ProcessNice() {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    return errno == 0 ? nice : 0;
}

}  // namespace

int ThreadPriorityNiceOffset(ThreadPriority priority) {
    switch (priority) {
        case tpIdle:
            return 0;
        case tpLowest:
            return 10;
        case tpLower:
            return 5;
        case tpNormal:
            return 0;
        case tpHigher:
            return -5;
        case tpHighest:
            return -10;
        case tpTimeCritical:
            return -20;
    }
    return 0;
}

bool ApplyThreadPriority(ThreadPriority priority) {
    bool applied = true;
    // A thread started by another worker inherits that worker's policy and nice value, so both
    // are always set explicitly.
    sched_param parameters{};
    parameters.sched_priority = 0;
    const int wantedPolicy = priority == tpIdle ? SCHED_IDLE : SCHED_OTHER;
    if (sched_getscheduler(0) != wantedPolicy && sched_setscheduler(0, wantedPolicy, &parameters) != 0) {
        applied = false;
    }
    const int nice = std::clamp(ProcessNice() + ThreadPriorityNiceOffset(priority), MinNice, MaxNice);
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentTid()), nice) != 0) {
        applied = false;
    }
    return applied;
}

}  // namespace kavel
