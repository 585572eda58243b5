#include "ChildProcess.h"

#include <QFile>
#include <algorithm>
#include <thread>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace snapmend {
namespace {

int PidfdOpen(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool HasEnded(int pidfd, int timeoutMs) {
  pollfd pfd{pidfd, POLLIN, 0};
  int result;
  do {
    result = ::poll(&pfd, 1, timeoutMs);
  } while (result < 0 && errno == EINTR);
  return result > 0;
}

// The caller's environment with `extras` added (replacing variables of the
// same name), plus the parent's process id, by which the child can tie its
// life to this process (kParentPidVariable).
std::vector<QByteArray> ChildEnvironment(const QList<QByteArray> &extras) {
  const QByteArray parentPrefix =
      QByteArray(ChildProcess::kParentPidVariable) + '=';
  std::vector<QByteArray> out;
  for (char **entry = environ; *entry; ++entry) {
    const QByteArray inherited(*entry);
    const QByteArray name = inherited.left(inherited.indexOf('=') + 1);
    const bool replaced =
        name == parentPrefix ||
        std::any_of(extras.begin(), extras.end(), [&](const QByteArray &extra) {
          return extra.startsWith(name);
        });
    if (!replaced)
      out.push_back(inherited);
  }
  out.insert(out.end(), extras.begin(), extras.end());
  out.push_back(parentPrefix + QByteArray::number(::getpid()));
  return out;
}

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const QString &program,
                                                  const QStringList &arguments,
                                                  const Extras &extras) {
  const QByteArray path = QFile::encodeName(program);
  std::vector<QByteArray> storage;
  storage.push_back(path);
  for (const QString &argument : arguments)
    storage.push_back(argument.toLocal8Bit());
  std::vector<char *> argv;
  for (QByteArray &argument : storage)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null",
                                   O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null",
                                   O_WRONLY, 0);
  // dup2 onto itself would keep close-on-exec: pass a copy numbered elsewhere.
  int passFd = extras.inheritFd;
  if (passFd >= 0 && passFd == extras.childFd)
    passFd = ::fcntl(passFd, F_DUPFD_CLOEXEC, extras.childFd + 1);
  if (passFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, passFd, extras.childFd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID |
                                            POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETSIGMASK);

  std::vector<QByteArray> environment = ChildEnvironment(extras.environment);
  std::vector<char *> envp;
  for (QByteArray &entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, path.constData(), &actions, &attributes,
                                  argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (passFd >= 0 && passFd != extras.inheritFd)
    ::close(passFd);
  posix_spawnattr_destroy(&attributes);
  if (error != 0)
    return nullptr;

  const int pidfd = PidfdOpen(pid);
  if (pidfd < 0) {
    // Without a pidfd it cannot be tracked safely: stop it and reap it.
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return nullptr;
  }
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, pidfd));
}

ChildProcess::~ChildProcess() { ::close(m_pidfd); }

int ChildProcess::Wait() {
  siginfo_t info{};
  int result;
  do {
    result = ::waitid(P_PIDFD, static_cast<id_t>(m_pidfd), &info, WEXITED);
  } while (result < 0 && errno == EINTR);
  if (result != 0)
    return -1;
  return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

bool ChildProcess::SendSignal(int signal) const {
  return ::syscall(SYS_pidfd_send_signal, m_pidfd, signal, nullptr, 0) == 0;
}

void ChildProcess::Terminate(int graceMs) {
  if (!SendSignal(SIGTERM))
    return;
  if (graceMs > 0 && !HasEnded(m_pidfd, graceMs))
    SendSignal(SIGKILL);
}

void ChildProcess::Kill() { SendSignal(SIGKILL); }

} // namespace snapmend
