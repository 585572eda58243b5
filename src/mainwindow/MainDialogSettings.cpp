// The main window's side of the settings: the output folder box, the Browse
// button, and the Settings and Help links.
#include <QLineEdit>

#include "CopyPlan.h"
#include "FileTypesDialog.h"
#include "Help.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "SettingsFiles.h"
#include "UiServices.h"

namespace snapmend {

void MainDialog::LoadOutputFolder()
{
    const QString folder =
        ReadSettingValue(ProgramFolder(m_platform), kSettingsFileName, kSaveDirKey, GetDefaultOutputFolder());
    m_edtOutputDir->setText(folder);
    SetDrivePageVisible(true);
}

void MainDialog::BrowseForOutputFolder()
{
    const std::optional<QString> picked = m_platform.ui->BrowseForFolder(this, QString(), QString());
    if (!picked || picked->isEmpty())
        return;
    const QString folder = NormalizePickedFolder(*picked);
    if (const std::optional<QString> refusal = ScannedDiskRefusal(SelectedScanSource(), folder)) {
        m_platform.ui->MessageBox(this, *refusal, kMessageCaption, MB_OK);
        return;
    }
    // The box first: the new folder holds for this run even when the write fails.
    m_edtOutputDir->setText(folder);
    SaveOutputFolder(ProgramFolder(m_platform), folder);
}

void MainDialog::OpenFileTypesDialog()
{
    // The main window refreshes nothing afterwards: each scan reads formats.ini itself.
    FileTypesDialog dialog(ProgramFolder(m_platform), this);
    dialog.exec();
}

void MainDialog::OpenHelp() { OpenHelpFile(DataFolder(m_platform), *m_platform.ui, this); }

}  // namespace snapmend
