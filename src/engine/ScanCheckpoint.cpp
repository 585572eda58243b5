#include "ScanCheckpoint.h"

#include <QList>
#include <cerrno>

#include "FileSystem.h"
#include "Paths.h"
#include "carver/contract.h"

namespace snapmend {
namespace {

// A checkpoint lists a few keys and the engine's own records; far more is not one.
constexpr qsizetype kMaxCheckpointBytes = 4 << 20;
constexpr qsizetype kMaxSelectionLength = 1024;

QByteArray ReadBounded(int fd)
{
    QByteArray text;
    char chunk[16384];
    for (;;) {
        const ssize_t n = ReadSome(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        if (text.size() + n > kMaxCheckpointBytes)
            return {};
        text.append(chunk, n);
    }
}

}  // namespace

bool ScanCheckpoint::Continuable() const { return scanning && !identity.isEmpty() && IsEngineSelection(selection); }

bool IsEngineSelection(const QString& selection)
{
    using namespace carver::contract;
    const QString start = QString::fromLatin1(kSelectionStart.data(), kSelectionStart.size()) + QLatin1Char(',');
    const QString end = QLatin1Char(',') + QString::fromLatin1(kSelectionEnd.data(), kSelectionEnd.size());
    if (selection.size() > kMaxSelectionLength || !selection.startsWith(start) || !selection.endsWith(end))
        return false;
    for (QChar c : selection)
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char(',')))
            return false;
    return true;
}

std::optional<ScanCheckpoint> ParseCheckpoint(const QByteArray& text)
{
    ScanCheckpoint checkpoint;
    bool versionOne = false;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "version")
            versionOne = value == "1";
        else if (key == "identity")
            checkpoint.identity = QString::fromUtf8(value);
        else if (key == "command")
            checkpoint.selection = QString::fromUtf8(value);
        else if (key == "position")
            checkpoint.position = value.toULongLong();
        else if (key == "state")
            checkpoint.scanning = value == "scanning";
    }
    if (!versionOne)
        return std::nullopt;
    return checkpoint;
}

std::optional<ScanCheckpoint> ReadCheckpoint(const QString& engineOutputDir)
{
    const QString path = JoinPath(JoinPath(engineOutputDir, kCheckpointFolderName), kCheckpointName);
    UniqueFd file = OpenForReading(path);
    if (!file.valid())
        return std::nullopt;
    const std::optional<FileStatus> status = StatusOf(file.get());
    if (!status || status->kind != FileKind::Regular || status->size > quint64(kMaxCheckpointBytes))
        return std::nullopt;
    return ParseCheckpoint(ReadBounded(file.get()));
}

}  // namespace snapmend
