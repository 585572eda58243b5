#include "CopyPlan.h"

#include "SafeCopy.h"
#include "SameDisk.h"
#include "UiServices.h"

namespace snapmend {

std::optional<CopyItem> CopyItemAt(const std::vector<int>& photos, const std::vector<int>& files, int k)
{
    if (k < 0)
        return std::nullopt;
    const auto position = static_cast<size_t>(k);
    if (position < photos.size())
        return CopyItem{true, photos[position]};
    if (position - photos.size() < files.size())
        return CopyItem{false, files[position - photos.size()]};
    return std::nullopt;
}

QString RecoveringText(int index, int count)
{
    return QStringLiteral("Recovering photo %1 of %2").arg(index).arg(count);
}

QString OutputDirectoryMessage(const QString& folder)
{
    return QStringLiteral("Output directory \"") + folder + QStringLiteral("\" does not exists.");
}

std::optional<QString> OutputFolderRefusal(const QString& folder, const std::optional<Account>& person)
{
    if (PersonMayWriteFolder(folder, person))
        return std::nullopt;
    const QString name = QString::fromLocal8Bit(person->name);
    return QStringLiteral("Output directory \"%1\" cannot be written by %2.\n\nPlease choose a folder that %2 can write to.")
        .arg(folder, name);
}

FinalReport MakeFinalReport(int copied, int missing, int failed)
{
    const QString recovered = QStringLiteral("%1 files recovered.\n\n").arg(copied);
    const QString view = QStringLiteral("Do you want to view recovered files?");
    if (failed > 0) {
        // The workspace holds the only copy of what failed: keep it and let the user try again.
        return {recovered + QStringLiteral("%1 files could not be recovered, they are still selected.\n\n"
                                           "Please check the output folder and press 'Recover' to try again.")
                                .arg(missing + failed),
                kMessageCaption, false, true};
    }
    if (missing > 0) {
        return {recovered + QStringLiteral("%1 files could not be recovered, they are no longer in the scan "
                                           "results.\n\n")
                                .arg(missing) +
                    view,
                kQuestionCaption, true, false};
    }
    return {recovered + view, kQuestionCaption, true, false};
}

std::optional<QString> ScannedDiskRefusal(const QString& scanSource, const QString& folder)
{
    const std::optional<QString> disk = FolderOnScannedDisk(scanSource, folder);
    if (!disk)
        return std::nullopt;
    return FolderOnScannedDiskMessage(folder, *disk);
}

void CopyRun::Reset(std::vector<QString> newSources, QString newSourceRoot)
{
    sources = std::move(newSources);
    sourceRoot = std::move(newSourceRoot);
    person = InvokingPerson();
    copiedSources.clear();
    copied = missing = failed = 0;
}

}  // namespace snapmend
