// End to end: the real engine carves deleted photos out of a FAT32 image while
// the main window's timers harvest its workspace.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "FakeSystemInfo.h"
#include "MainDialog.h"
#include "WindowControls.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "ScriptedUiServices.h"
#include "TestUtil.h"
#include "TimerIds.h"
#include "ScanFixture.h"
#include "TimerService.h"

using namespace snapmend;
using snapmend::test::Ctl;

namespace {

QImage Scene(int w, int h, int seed)
{
    QImage image(w, h, QImage::Format_RGB888);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor::fromHsv((seed * 70) % 360, 160, 230));
    sky.setColorAt(1, QColor::fromHsv((seed * 70 + 40) % 360, 120, 120));
    p.fillRect(image.rect(), sky);
    p.setBrush(QColor::fromHsv((seed * 70 + 180) % 360, 200, 240));
    p.drawEllipse(QPointF(w * 0.6, h * 0.4), w * 0.2, h * 0.2);
    return image;
}

int RunTool(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

class HarvestEngineTest : public test::ScanFixture {};

TEST_F(HarvestEngineTest, ThumbnailsAppearWhileTheEngineRunsAndTheReadyViewFollowsItsEnd)
{
    ASSERT_TRUE(test::InstallEngine(dataHome.path())) << "engine not built in " << test::BuildDir().toStdString();
    if (RunTool(QStringLiteral("mkfs.vfat"), {QStringLiteral("--help")}) < 0 || RunTool(QStringLiteral("mdel"), {}) < 0)
        GTEST_SKIP() << "dosfstools/mtools missing";

    QTemporaryDir& dir = scratch;
    const QString image = dir.path() + "/disk.img";
    ASSERT_EQ(RunTool(QStringLiteral("mkfs.vfat"), {"-F", "32", "-s", "1", "-C", image, "65536"}), 0);
    const QSize sizes[] = {{800, 600}, {600, 800}, {1024, 768}, {640, 480}};
    QStringList photos;
    for (int i = 0; i < 4; ++i) {
        const QString name = dir.path() + QStringLiteral("/img%1.%2").arg(i).arg(i == 3 ? "png" : "jpg");
        ASSERT_TRUE(Scene(sizes[i].width(), sizes[i].height(), i).save(name));
        photos << name;
    }
    QFile notes(dir.path() + "/notes.txt");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write(QByteArray(5000, 'n'));
    notes.close();
    ASSERT_EQ(RunTool(QStringLiteral("mcopy"), QStringList{"-i", image} + photos + QStringList{notes.fileName(), "::/"}), 0);
    for (const QString& photo : photos)
        ASSERT_EQ(RunTool(QStringLiteral("mdel"), {"-i", image, "::/" + QFileInfo(photo).fileName()}), 0);
    // Empty space after the file system keeps the engine reading for a few
    // seconds (holes cost no disk; the engine reads them past the page cache
    // at several GB/s, hence the size).
    ASSERT_TRUE(QFile::resize(image, 8ll << 30));

    // The real road: the drive page lists the image, Start scans it.
    auto dialog = OpenOnDrivePage(image);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(dialog->Scan().Scanning());
    EXPECT_EQ(Ctl(*dialog).btnRecover->text(), "Cancel");

    int shownWhileRunning = 0;
    const QByteArray shot = qgetenv("SNAPMEND_SCREENSHOT");
    // Once the engine has carved the photos it is held stopped until they
    // show: it reads the rest of the image faster than the first harvest pass.
    pid_t held = 0;
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            if (held && Ctl(*dialog).lstPhotos->Model().Count() > 0) {
                ::kill(held, SIGCONT);
                held = -1;
            }
            if (!held && dialog->Scan().Scanning() &&
                QDir(dialog->Scan().Workspace().engineOutputDir).entryList(QDir::Files).size() >= 4)
                if ((held = test::EngineChild()) > 0)
                    ::kill(held, SIGSTOP);
            if (dialog->Scan().Scanning()) {
                shownWhileRunning = Ctl(*dialog).lstPhotos->Model().Count();
                if (!shot.isEmpty() && shownWhileRunning == 3)
                    QProcess::execute(QStringLiteral("import"), {"-window", "root", QString::fromLocal8Bit(shot)});
            }
            return Ctl(*dialog).btnRecover->text() == QLatin1String("Recover");
        },
        120000));
    if (held > 0)
        ::kill(held, SIGCONT);
    EXPECT_GE(shownWhileRunning, 1) << "no thumbnail while the engine ran";
    EXPECT_FALSE(dialog->Scan().Running());

    EXPECT_EQ(Ctl(*dialog).lblStatus->text(), "Press 'Recover' to recover files detected.");
    ASSERT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 4);
    EXPECT_TRUE(Ctl(*dialog).lnkSelectPhotos->isEnabled());
    for (int i = 0; i < 4; ++i) {
        const QString carved = Ctl(*dialog).lstPhotos->Model().PathAt(i);
        EXPECT_TRUE(carved.startsWith(dialog->Scan().Workspace().engineOutputDir + "/")) << carved.toStdString();
        const QImage thumb = Ctl(*dialog).lstPhotos->Model().ThumbnailAt(i);
        EXPECT_NE(thumb.pixelColor(32, 32), QColor(Qt::white)) << "thumbnail " << i << " is blank";
    }
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_POLL_WORKSPACE));
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_HARVEST));
}

}  // namespace
