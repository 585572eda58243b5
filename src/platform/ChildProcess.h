#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>

namespace snapmend {

// A program started in the background: no terminal (its own session), the
// standard streams on /dev/null, the caller's working folder. It is held by
// a pidfd, so waiting on one thread and terminating from another is safe and
// a signal can never reach a recycled process id. The child finds this
// process's id in its environment (kParentPidVariable), so that it can end
// when this process ends, however it ends.
// What a child gets beyond its arguments: `inheritFd` (when not -1) becomes
// its descriptor `childFd`, and `environment` ("NAME=value") is added to the
// caller's environment, replacing a variable of the same name.
struct ChildExtras {
    int inheritFd = -1;
    int childFd = 3;
    QList<QByteArray> environment;
};

class ChildProcess {
public:
    using Extras = ChildExtras;

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    static constexpr const char* kParentPidVariable = "SNAPMEND_PARENT_PID";

    // Nothing when the program could not be started. Start from a thread that
    // outlives the child (the one that waits for it): a parent-death signal
    // the child asks for follows the starting thread.
    static std::unique_ptr<ChildProcess> Start(const QString& program, const QStringList& arguments,
                                               const Extras& extras = {});

    // Blocks until the process has ended and reaps it; returns its exit code,
    // 128 + the signal when a signal ended it, -1 on error. Call from one thread only.
    int Wait();

    // SIGTERM, then SIGKILL when it has not ended after `graceMs`. Returns at
    // once; safe to call from any thread, also after the process has ended.
    void Terminate(int graceMs);
    // SIGKILL; harmless once the process has ended.
    void Kill();

    pid_t Pid() const { return m_pid; }

private:
    ChildProcess(pid_t pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {}
    bool SendSignal(int signal) const;

    pid_t m_pid;
    int m_pidfd;
};

}  // namespace snapmend
