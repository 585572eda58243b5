// The whole road of one scan as a user takes it: a card with deleted photos is
// mounted, the window lists it through the real drive source, Start runs the
// real engine, the results are shown, Recover copies them into the output
// folder. Needs root, loop devices and mounting; skips with the reason otherwise.
//
// SNAPMEND_SCREENSHOT_DIR=dir (with a real display) saves ready.png and copying.png there.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <iostream>
#include <map>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "ScanFixture.h"
#include "TimerService.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

QByteArray Digest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// Content digest -> file name, for every file in a folder.
std::map<QByteArray, QString> Digests(const QString& folder)
{
    std::map<QByteArray, QString> digests;
    QDirIterator it(folder, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        const QString path = it.next();
        digests[Digest(path)] = QFileInfo(path).fileName();
    }
    return digests;
}

class RecoveryRoadTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        // The real drive source: the card must be found the way a user's card is.
        platform.drives = PlatformServices::Default().drives;
    }

    void TearDown() override
    {
        if (!m_cardDir.isEmpty())
            QProcess::execute("bash", {Script(), "--remove", m_cardDir});
        ScanFixture::TearDown();
    }

    static QString Script() { return qEnvironmentVariable("SNAPMEND_SOURCE_DIR") + "/scripts/make-demo-card.sh"; }

    // Makes the demo card; its key=value lines, or a skip/failure reason in `why`.
    bool MakeCard(std::map<QString, QString>& card, QString& why, bool& unavailable)
    {
        m_cardDir = scratch.path() + "/demo";
        QProcess process;
        process.start("bash", {Script(), m_cardDir});
        if (!process.waitForFinished(120000)) {
            why = "the demo card script did not finish";
            return false;
        }
        const QString err = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        unavailable = process.exitCode() == 77;
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            why = err.isEmpty() ? out : err;
            return false;
        }
        if (!err.isEmpty())
            std::cout << "[   INFO   ] " << Str(err) << std::endl;
        for (const QString& line : out.split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0 && !line.contains(' '))
                card[line.left(eq)] = line.mid(eq + 1);
        }
        return card.count("mount") && card.count("device") && card.count("fs");
    }

    QString m_cardDir;
};

}  // namespace

TEST_F(RecoveryRoadTest, DeletedPhotosOfAMountedCardAreRecoveredByteForByte)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to attach a loop device and mount it";
    ASSERT_TRUE(InstallEngine(dataHome.path())) << "engine not built in " << Str(BuildDir());
    std::map<QString, QString> card;
    QString why;
    bool unavailable = false;
    if (!MakeCard(card, why, unavailable)) {
        if (unavailable)
            GTEST_SKIP() << Str(why);
        FAIL() << "demo card: " << Str(why);
    }
    std::cout << "[   INFO   ] card: " << Str(card["fs"]) << " on " << Str(card["device"]) << " at "
              << Str(card["mount"]);
    if (card["fs"] != "FAT32")
        std::cout << " (this kernel cannot mount vfat, so the card is ext4)";
    std::cout << std::endl;
    const std::map<QByteArray, QString> originals = Digests(m_cardDir + "/originals");
    ASSERT_GE(originals.size(), 8u);
    // The types the user ticks in the file types dialog, PDF among them.
    ASSERT_TRUE(ChooseFormats("jpg,gif,png,bmp,tif,pdf"));

    // 1. The drive page lists the card.
    auto dialog = std::make_unique<MainDialog>(platform);
    dialog->OnInitDialog();
    dialog->show();
    dialog->OnTimer(TIMER_STARTUP);
    QTreeWidgetItem* row = nullptr;
    QStringList listed;
    for (int i = 0; i < Ctl(*dialog).lstDrives->topLevelItemCount(); ++i) {
        listed << Ctl(*dialog).lstDrives->topLevelItem(i)->text(0);
        if (listed.back() == card["mount"])
            row = Ctl(*dialog).lstDrives->topLevelItem(i);
    }
    ASSERT_TRUE(row) << "the card is not listed; rows: " << Str(listed.join(", "));
    const QString output = scratch.path() + "/recovered";
    Ctl(*dialog).edtOutputDir->setText(output);

    // 2. Start: the real engine scans the whole loop device.
    Ctl(*dialog).lstDrives->setCurrentItem(row);
    row->setSelected(true);
    QTest::mouseClick(Ctl(*dialog).btnStart, Qt::LeftButton);
    EXPECT_EQ(dialog->Scan().Device(), card["device"]);
    ASSERT_TRUE(WaitUntil(
        [&] { return Ctl(*dialog).btnRecover->isVisible() && Ctl(*dialog).btnRecover->text() == "Recover"; }, 120000))
        << "no ready view; messages: " << ui.Texts().size();
    EXPECT_TRUE(ui.Boxes().empty()) << Str(ui.Texts().front());
    const int photos = Ctl(*dialog).lstPhotos->Model().Count();
    const int files = Ctl(*dialog).lstFiles->Model().Count();
    EXPECT_GE(photos, 8) << "seven deleted photos and one kept";
    const QString workspace = dialog->Scan().Workspace().root;
    ASSERT_TRUE(QFileInfo::exists(workspace));
    Screenshot("ready.png");

    // 3. Recover everything; Yes opens the output folder.
    ui.QueueAnswer(IDYES);
    QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
    EXPECT_EQ(Ctl(*dialog).progress->maximum(), photos + files);
    if (!qEnvironmentVariable("SNAPMEND_SCREENSHOT_DIR").isEmpty()) {
        WaitUntil([&] { return Ctl(*dialog).progress->value() >= 3; }, 10000);
        Screenshot("copying.png");
    }
    ASSERT_TRUE(WaitUntil([&] { return !ui.Boxes().empty(); }, 60000));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text),
              Str(QString("%1 files recovered.\n\nDo you want to view recovered files?").arg(photos + files)));
    EXPECT_EQ(ui.OpenedPaths(), std::vector<QString>{output});

    // 4. Every recovered file is one of the originals, byte for byte, and every photo came back.
    const std::map<QByteArray, QString> recovered = Digests(output);
    EXPECT_EQ(static_cast<int>(QDir(output).entryList(QDir::Files | QDir::Hidden).size()), photos + files);
    for (const auto& [digest, name] : recovered)
        EXPECT_TRUE(originals.count(digest)) << Str(name) << " matches no original";
    for (const auto& [digest, name] : originals) {
        if (!name.endsWith(".pdf")) {  // documents come back once the engine carves them
            EXPECT_TRUE(recovered.count(digest)) << Str(name) << " was not recovered";
        }
    }
    EXPECT_TRUE(QFileInfo::exists(workspace)) << "the results stay for more recoveries";
    EXPECT_EQ(dialog->View(), WindowView::Results);
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(QFileInfo::exists(workspace)) << "closing deletes the workspace";
}
