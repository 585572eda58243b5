#pragma once
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

#include "Ownership.h"
#include "TargetNames.h"

namespace snapmend {

// One item of a recovery: a row of the thumbnail list or of the other-files list.
struct CopyItem {
    bool photo = false;
    int row = -1;
};

// Item k of a recovery: the photo selection's entries first, then the file
// selection's; nothing for k outside both.
std::optional<CopyItem> CopyItemAt(const std::vector<int>& photos, const std::vector<int>& files, int k);

// "Recovering photo %d of %d".
QString RecoveringText(int index, int count);

// The three pieces: Output directory "<folder>" does not exists.
QString OutputDirectoryMessage(const QString& folder);

// The refusal to show when the person behind pkexec/sudo may not create
// files in `folder`: named, with who cannot write there. Nothing when they
// may, or when there is no such person (root's own login writes as root).
std::optional<QString> OutputFolderRefusal(const QString& folder, const std::optional<Account>& person);

// The report at the end of a recovery and what the window does after it.
struct FinalReport {
    QString text;
    QString caption;
    // A Yes/No question whose Yes opens the output folder; otherwise a plain message.
    bool offerToOpen = false;
    // Keep the workspace and offer the results again, so the user can retry.
    bool keepResults = false;
};

// copied: files written to the output folder; missing: selected files no
// longer in the workspace; failed: copies that failed (a retry may succeed).
FinalReport MakeFinalReport(int copied, int missing, int failed);

// The refusal to show when `folder` lies on the disk that `scanSource`
// (device or image file) reads; nothing when the folder may be used.
std::optional<QString> ScannedDiskRefusal(const QString& scanSource, const QString& folder);

// The state of one recovery, from Recover to its report.
struct CopyRun {
    std::vector<QString> sources;  // item k's source path, fixed when the recovery starts
    QString sourceRoot;            // the folder whose sub-folders are kept below the output folder
    std::optional<Account> person;  // in whose name the output folder is written: the person behind pkexec/sudo
    QSet<QString> copiedSources;
    int copied = 0;
    int missing = 0;
    int failed = 0;

    void Reset(std::vector<QString> newSources, QString newSourceRoot);
};

}  // namespace snapmend
