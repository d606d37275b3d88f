#pragma once

namespace kavel {

// Priority of the engine's worker threads, from the lowest to the highest. On Linux each maps to
// a nice value relative to the process's own, set per thread; tpIdle uses the SCHED_IDLE policy
// so that a conversion only gets the CPU time nothing else wants.
enum ThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The nice offset of a priority against the process's nice value (0 for tpNormal and tpIdle).
int ThreadPriorityNiceOffset(ThreadPriority priority);

// Applies priority to the calling thread. Lowering a priority always works; raising one above the
// process's (or leaving SCHED_IDLE again) needs a privilege the process may lack, and then the
// thread keeps the nearest priority the system allowed. Returns false when the system refused
// any part of the change.
bool ApplyThreadPriority(ThreadPriority priority);

}  // namespace kavel
