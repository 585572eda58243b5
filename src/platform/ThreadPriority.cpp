#include "ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace snapmend {
namespace {

// A few nice levels: a worker weighs half the UI thread on a busy core, and
// still takes every core the UI thread leaves idle. More would hand the cores
// to every other program on the machine, not just to the UI thread.
constexpr int kWorkerNice = 3;

}  // namespace

void LowerThisThreadPriority()
{
    // Pool threads run many jobs, each asking again: the system is asked once per thread.
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // On Linux the nice value belongs to the thread named by its id, not to the process.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current < kWorkerNice)
        ::setpriority(PRIO_PROCESS, thread, kWorkerNice);
}

}  // namespace snapmend
