#include "ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace snapmend {
namespace {

// A few nice levels: the UI thread gets about three times a worker's share of a
// busy core, while the workers still take every core the UI thread leaves idle.
constexpr int kWorkerNice = 5;

}  // namespace

void LowerThisThreadPriority()
{
    // On Linux the nice value belongs to the thread named by its id, not to the process.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current < kWorkerNice)
        ::setpriority(PRIO_PROCESS, thread, kWorkerNice);
}

}  // namespace snapmend
