#include "PersonOpener.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace snapmend {
namespace {

constexpr const char* kSafePath = "PATH=/usr/local/bin:/usr/bin:/bin";
// What passes from our environment unchanged: where the person's desktop is
// and how it speaks, never anything that changes what a program loads.
constexpr const char* kPassedOn[] = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "LANG"};
constexpr const char* kBus = "DBUS_SESSION_BUS_ADDRESS";
constexpr const char* kAuthority = "XAUTHORITY";

QByteArray Entry(const char* name, const QByteArray& value) { return QByteArray(name) + '=' + value; }

// Everything the child needs, made before the fork: after it only
// async-signal-safe calls are allowed.
struct Launch {
    QByteArray program;
    QByteArray target;
    QList<QByteArray> environment;
    std::vector<char*> argv;
    std::vector<char*> envp;
    int authoritySlot = -1;  // XAUTHORITY's place in envp, dropped when the person cannot read it
    QByteArray authorityFile;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

void Point(Launch& launch)
{
    launch.argv = {launch.program.data(), launch.target.data(), nullptr};
    const QByteArray authority = qgetenv(kAuthority);
    if (!authority.isEmpty()) {
        launch.environment.push_back(Entry(kAuthority, authority));
        launch.authorityFile = authority;
        launch.authoritySlot = static_cast<int>(launch.environment.size()) - 1;
    }
    launch.envp.clear();
    for (QByteArray& entry : launch.environment)
        launch.envp.push_back(entry.data());
    launch.envp.push_back(nullptr);
}

// The raw calls: in the child of a threaded program glibc's wrappers are not safe.
bool DropTo(const Launch& launch)
{
    if (::syscall(SYS_setgroups, launch.groups.size(), launch.groups.data()) != 0 ||
        ::syscall(SYS_setresgid, launch.gid, launch.gid, launch.gid) != 0 ||
        ::syscall(SYS_setresuid, launch.uid, launch.uid, launch.uid) != 0)
        return false;
    // No way back: regaining root must fail, and every id must be the person's.
    return ::syscall(SYS_setresuid, 0, 0, 0) != 0 && ::syscall(SYS_setresgid, 0, 0, 0) != 0 &&
           ::getuid() == launch.uid && ::geteuid() == launch.uid && ::getgid() == launch.gid &&
           ::getegid() == launch.gid;
}

[[noreturn]] void RunOpener(Launch& launch, int reportFd)
{
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd <= 2 && null >= 0; ++fd)
        ::dup2(null, fd);
    ::syscall(SYS_close_range, 3, ~0U, CLOSE_RANGE_CLOEXEC);
    int error = EPERM;
    if (DropTo(launch) && ::chdir("/") == 0) {
        if (launch.authoritySlot >= 0 && ::access(launch.authorityFile.constData(), R_OK) != 0)
            launch.envp[static_cast<size_t>(launch.authoritySlot)] = nullptr;
        ::execve(launch.program.constData(), launch.argv.data(), launch.envp.data());
        error = errno;
    }
    while (::write(reportFd, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

// What the person's programs get from us; see OpenAsPerson.
QList<QByteArray> PersonEnvironment(const Account& person)
{
    const QByteArray runtime = "/run/user/" + QByteArray::number(person.uid);
    QList<QByteArray> environment{kSafePath, Entry("HOME", QFile::encodeName(person.home)), Entry("USER", person.name),
                                  Entry("LOGNAME", person.name), Entry("XDG_RUNTIME_DIR", runtime)};
    for (const char* name : kPassedOn) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            environment.push_back(Entry(name, value));
    }
    // Their own session bus first: the one in our environment may be root's.
    const QByteArray bus = runtime + "/bus";
    const QByteArray inherited = qgetenv(kBus);
    if (QFileInfo::exists(QFile::decodeName(bus)))
        environment.push_back(Entry(kBus, "unix:path=" + bus));
    else if (!inherited.isEmpty())
        environment.push_back(Entry(kBus, inherited));
    return environment;
}

}  // namespace

bool OpenAsPerson(const QString& path, const Account& person)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty() || person.uid == 0)
        return false;
    Launch launch{QFile::encodeName(opener), QFile::encodeName(QFileInfo(path).absoluteFilePath()),
                  PersonEnvironment(person), {}, {}, -1, {}, person.uid, person.gid, person.groups};
    Point(launch);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    // Two forks: the opener is nobody's child here and never left a zombie.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        const pid_t grandchild = ::fork();
        if (grandchild == 0)
            RunOpener(launch, report[1]);
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    bool started = child > 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    started = started && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // The pipe closes at exec; an error number arrives when the opener did not start.
    int error = 0;
    ssize_t got = 0;
    while (started && (got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return started && got == 0;
}

}  // namespace snapmend
