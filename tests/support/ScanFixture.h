#pragma once
// A main window wired to a test drive source whose one drive is a disk image,
// with the engine linked from the build tree into an engine folder of its own.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include "DriveSource.h"
#include "FakeSystemInfo.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ScanRun.h"
#include "ScriptedUiServices.h"
#include "TestUtil.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "WindowControls.h"

namespace snapmend::test {

// The drives a test wants listed.
class FixedDriveSource : public DriveSource {
public:
    std::vector<DriveRecord> drives;
    std::vector<DriveRecord> ListDrives() override { return drives; }
};

inline QString BuildDir() { return QString::fromLocal8Bit(qgetenv("SNAPMEND_BUILD_DIR")); }

inline QString EngineFolderIn(const QString& dataHome) { return dataHome + "/kestrova"; }

// Links the engine's three pieces into `dataHome`/kestrova (the folder
// EngineFolderIn names), leaving out the ones named in `skip`.
inline bool InstallEngine(const QString& dataHome, const QStringList& skip = {})
{
    const QString from = BuildDir() + "/engine/kestrova";
    const QString to = EngineFolderIn(dataHome);
    if (!QDir().mkpath(to))
        return false;
    for (const QString& piece : {QStringLiteral("photo"), QStringLiteral("libcarver.so"), QStringLiteral("formats")}) {
        if (skip.contains(piece))
            continue;
        if (!QFile::exists(from + "/" + piece) || !QFile::link(from + "/" + piece, to + "/" + piece))
            return false;
    }
    return true;
}

// Writes small JPEG files made by ImageMagick at sector-aligned offsets of a
// raw image of `totalBytes` (sparse beyond the pictures). Returns their bytes.
inline std::vector<QByteArray> MakePhotoImage(const QString& imagePath, int photos, qint64 totalBytes)
{
    std::vector<QByteArray> written;
    QTemporaryDir scratch;
    QFile image(imagePath);
    if (!image.open(QIODevice::WriteOnly))
        return written;
    qint64 offset = 0;
    for (int i = 0; i < photos; ++i) {
        const QString jpeg = scratch.path() + QStringLiteral("/p%1.jpg").arg(i);
        const QString colour = QStringLiteral("rgb(%1,%2,%3)").arg(40 * i % 256).arg(90).arg(200 - 30 * i % 200);
        if (QProcess::execute("convert", {"-size", QStringLiteral("%1x%2").arg(80 + 16 * i).arg(60 + 8 * i),
                                          "plasma:" + colour + "-white", "-quality", "90", jpeg}) != 0)
            return {};
        QFile file(jpeg);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
        image.seek(offset);
        image.write(bytes);
        written.push_back(bytes);
        offset += (bytes.size() + 511) / 512 * 512 + 4096;
    }
    image.resize(totalBytes);
    return written;
}

class ScanFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
        platform.ui = &ui;
        platform.system = &system;
        platform.drives = &drives;
        platform.programFolder = programFolder.path() + "/";
        platform.engineFolder = EngineFolderIn(dataHome.path());
        // Scans keep their data in the output folder: one of the test's own.
        QFile settings(programFolder.path() + "/settings.ini");
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("savedir=" + outputFolder.path().toUtf8() + "\n");
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", m_oldDataHome); }

    // Opens the window on the drive page with `device` as the only drive.
    std::unique_ptr<MainDialog> OpenOnDrivePage(const QString& device)
    {
        DriveRecord record;
        record.name = "/media/card";
        record.physicalPath = device;
        record.engineDevice = device;
        record.capacity = 1 << 20;
        drives.drives = {record};
        auto dialog = std::make_unique<MainDialog>(platform);
        dialog->OnInitDialog();
        dialog->show();
        dialog->OnTimer(TIMER_STARTUP);
        return dialog;
    }

    // The file types a scan looks for, as the file types dialog saves them ("jpg,pdf").
    bool ChooseFormats(const char* keys)
    {
        QFile formats(programFolder.path() + "/formats.ini");
        return formats.open(QIODevice::WriteOnly) && formats.write(QByteArray("formats=") + keys + "\n") > 0;
    }

    static void SelectFirstDrive(MainDialog& dialog)
    {
        Ctl(dialog).lstDrives->setCurrentItem(Ctl(dialog).lstDrives->topLevelItem(0));
        Ctl(dialog).lstDrives->topLevelItem(0)->setSelected(true);
    }

    QTemporaryDir dataHome;
    QTemporaryDir programFolder;
    QTemporaryDir scratch;
    QTemporaryDir outputFolder;
    ScriptedUiServices ui;
    FakeSystemInfo system;
    FixedDriveSource drives;
    PlatformServices platform;

private:
    QByteArray m_oldDataHome;
};

}  // namespace snapmend::test
