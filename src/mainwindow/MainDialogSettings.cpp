// The main window's side of the settings: the output folder box, the Browse
// button, and the Settings and Help links.
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include "CopyPlan.h"
#include "EngineInstallation.h"
#include "FileTypesDialog.h"
#include "Help.h"
#include "HelpWindow.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "SettingsFiles.h"
#include "UiServices.h"

namespace snapmend {
namespace {

// Where the folder picker opens: the output folder, or its nearest existing parent.
QString BrowseStartFolder(const QString& outputFolder)
{
    if (outputFolder.isEmpty())
        return QDir::homePath();
    QString folder = QDir::cleanPath(QFileInfo(outputFolder).absoluteFilePath());
    while (!QFileInfo(folder).isDir() && folder != QLatin1String("/"))
        folder = QFileInfo(folder).path();
    return folder;
}

}  // namespace

void MainDialog::LoadOutputFolder()
{
    const QString folder =
        ReadSettingValue(ProgramFolder(m_platform), kSettingsFileName, kSaveDirKey, GetDefaultOutputFolder());
    m_edtOutputDir->setText(folder);
}

void MainDialog::BrowseForOutputFolder()
{
    const std::optional<QString> picked = m_platform.ui->BrowseForFolder(this, QString(), BrowseStartFolder(m_edtOutputDir->text()));
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

void MainDialog::OpenHelp()
{
    const std::optional<QString> help = FindHelpFile(DataFolder(m_platform));
    if (!help) {
        m_platform.ui->MessageBox(this, kHelpNotFoundText, kMessageCaption, MB_OK);
        return;
    }
    if (!m_help)
        m_help = new HelpWindow(*help, HelpFacts{ProgramFolder(m_platform), EngineFolder(m_platform)}, this);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

}  // namespace snapmend
