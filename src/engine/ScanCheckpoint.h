#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace snapmend {

// What the engine records in OUT/.snapmend/checkpoint about a scan: key=value
// lines, of which the window needs these. Other keys are the engine's own.
struct ScanCheckpoint {
    QString identity;    // of the disk read (DeviceIdentity)
    QString selection;   // the engine's type selection, "fileopt,...,search"
    quint64 position = 0;
    bool scanning = false;  // false: the engine read the disk to its end

    // The engine can go on with it: unfinished, of a known disk, with a selection it accepts.
    bool Continuable() const;
};

// The engine's bookkeeping folder below its output folder, and the checkpoint in it.
inline const QString kCheckpointFolderName = QStringLiteral(".snapmend");
inline const QString kCheckpointName = QStringLiteral("checkpoint");

// Parses a checkpoint's text (untrusted: any bytes). Nothing unless it says
// version=1. Unknown keys and malformed lines are passed over.
std::optional<ScanCheckpoint> ParseCheckpoint(const QByteArray& text);

// Reads the checkpoint below the engine output folder `engineOutputDir`:
// a regular file, never through a link, at most a few MiB.
std::optional<ScanCheckpoint> ReadCheckpoint(const QString& engineOutputDir);

// True for a selection argument the engine's command line accepts as one word.
bool IsEngineSelection(const QString& selection);

}  // namespace snapmend
