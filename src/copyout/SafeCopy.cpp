#include "SafeCopy.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapmend {
namespace {

constexpr size_t kCopyBlock = 1 << 20;
constexpr mode_t kTargetMode = 0644;

// Closes a descriptor once, whatever path leaves the scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int Close()
    {
        const int result = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies everything from in to out; false with errno set on a failure.
bool CopyBytes(int in, int out)
{
    std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), kCopyBlock);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!WriteAll(out, buffer.get(), static_cast<size_t>(got)))
            return false;
    }
}

}  // namespace

bool EnsureOutputFolder(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    if (QFileInfo(folder).isDir())
        return true;
    return ::mkdir(QFile::encodeName(folder).constData(), 0777) == 0;
}

CopyOutcome CopyFileReplacing(const QString& source, const QString& target)
{
    Fd in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return {false, errno};
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        return {false, errno};
    if (!S_ISREG(info.st_mode))
        return {false, EISDIR};

    const QByteArray targetName = QFile::encodeName(target);
    const qsizetype slash = targetName.lastIndexOf('/');
    QByteArray temporary = (slash >= 0 ? targetName.left(slash + 1) : QByteArray()) + ".snapmend-XXXXXX";
    Fd out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0)
        return {false, errno};

    const auto fail = [&temporary](int error) {
        ::unlink(temporary.constData());
        return CopyOutcome{false, error};
    };
    if (!CopyBytes(in.get(), out.get()))
        return fail(errno);
    if (::fchmod(out.get(), kTargetMode) != 0 || ::fsync(out.get()) != 0)
        return fail(errno);
    if (out.Close() != 0)
        return fail(errno);
    if (::rename(temporary.constData(), targetName.constData()) != 0)
        return fail(errno);
    return {true, 0};
}

}  // namespace snapmend
