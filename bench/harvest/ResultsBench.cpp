// The window with 20 000 results: 15 000 photos of mixed sizes (some 24 MP
// without a preview) and 5 000 other files written into the workspace by a
// stand-in engine while the window harvests. Prints the time from the last
// file written to the ready view, the largest gap of a 10 ms probe timer
// while harvesting and while recovering, heap per result, peak RSS, and the
// recovery's throughput against `cp -r` of the same files in the same run.
// --bombs N adds N pictures whose headers declare gigapixels (progressive
// JPEG, PNG, GIF, TIFF, WebP in turn), which must cost the window little.
//   harvest_results_bench [--photos N] [--files N] [--large N] [--bombs N] [--shot FILE.png]
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "CStyledButton.h"
#include "DriveSource.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "ScanRun.h"
#include "ScriptedUiServices.h"
#include "FakeSystemInfo.h"
#include "HostilePictures.h"
#include "TimerIds.h"
#include "UiServices.h"
#include "WorkspaceWalk.h"

using namespace snapmend;

namespace {

long long NowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

// User and system time of this process (all its threads), in seconds.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Idle time of all the machine's cores together, in seconds (from /proc/stat).
double MachineIdleSeconds()
{
    QFile file(QStringLiteral("/proc/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    // cpu user nice system idle iowait ...
    return (fields.value(4).toDouble() + fields.value(5).toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 0) : QString();
}

double RssMb()
{
    QFile file(QStringLiteral("/proc/self/statm"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromLatin1(file.readAll()).section(' ', 1, 1).toDouble() * 4096 / 1e6;
}

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class OneDrive : public DriveSource {
public:
    std::vector<DriveRecord> drives;
    std::vector<DriveRecord> ListDrives() override { return drives; }
};

// A photo-like picture: gradients and shapes, so the JPEG is not trivially small.
QImage Scene(int w, int h, int seed)
{
    QImage image(w, h, QImage::Format_RGB888);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor::fromHsv(seed * 29 % 360, 160, 200));
    sky.setColorAt(1, QColor(240, 200, 120));
    p.fillRect(image.rect(), sky);
    for (int i = 0; i < 30; ++i) {
        p.setBrush(QColor::fromHsv((i * 37 + seed * 11) % 360, 180, 200));
        p.drawEllipse(QPointF(w * ((i * 53 + seed) % 100) / 100.0, h * ((i * 29 + seed * 7) % 100) / 100.0),
                      w / 12.0, h / 10.0);
    }
    return image;
}

QByteArray Jpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& a, const QByteArray& b = {})
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(a) == a.size() && f.write(b) == b.size();
}

// The source folder the stand-in copies from: photos of a few distinct looks
// made unique by a trailer after their end marker, and other files of random bytes.
qint64 Generate(const QString& folder, int photos, int files, int large, int bombs)
{
    // Named as the engine would name them; the WebP one as a PNG, to be decoded at all.
    const std::pair<const char*, QByteArray> kinds[] = {
        {"jpg", test::ProgressiveJpegBomb(20000, 20000)}, {"png", test::PngBomb(40000, 40000)},
        {"gif", test::GifBomb(65535, 65535)},             {"tif", test::TiffBomb(60000, 60000)},
        {"png", test::WebpBomb(16384, 16384)}};
    for (int i = 0; i < bombs; ++i) {
        const auto& [extension, bytes] = kinds[i % 5];
        WriteFile(QStringLiteral("%1/bomb%2.%3").arg(folder).arg(i).arg(QLatin1String(extension)), bytes);
    }
    std::vector<QByteArray> small;
    const QSize sizes[] = {{320, 240}, {640, 480}, {800, 600}, {1024, 768}, {1600, 1200}, {480, 640}};
    // Quality 75 keeps the 15 000 photos under a gigabyte.
    for (int i = 0; i < 48; ++i)
        small.push_back(Jpeg(Scene(sizes[i % 6].width(), sizes[i % 6].height(), i), 75));
    std::vector<QByteArray> big;
    for (int i = 0; i < 3; ++i)
        big.push_back(Jpeg(Scene(6000, 4000, 100 + i), 85));  // 24 MP, no embedded preview
    QRandomGenerator random(7);
    qint64 bytes = 0;
    const int total = photos + files;
    int photo = 0;
    int other = 0;
    for (int i = 0; i < total; ++i) {
        const bool isPhoto = other >= files || (photo < photos && i % 4 != 3);
        const QByteArray trailer = QByteArray::number(i).rightJustified(8, '0');
        QString name = QStringLiteral("%1/f%2").arg(folder).arg(i, 7, 10, QLatin1Char('0'));
        if (isPhoto) {
            const int stride = std::max(photos / std::max(large, 1), 1);
            const bool isLarge = large > 0 && photo % stride == 0 && photo / stride < large;
            const QByteArray& body = isLarge ? big[static_cast<size_t>(photo) % big.size()]
                                             : small[static_cast<size_t>(photo) % small.size()];
            WriteFile(name + ".jpg", body, trailer);
            bytes += body.size() + trailer.size();
            ++photo;
        } else {
            QByteArray data(1024 + static_cast<int>(random.bounded(31 * 1024)), Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
            static const char* const kExtensions[] = {"pdf", "doc", "zip", "mp3", "txt"};
            WriteFile(name + "." + kExtensions[other % 5], data);
            bytes += data.size();
            ++other;
        }
    }
    return bytes;
}

// The largest gap between two firings of a 10 ms timer since Reset.
struct Probe {
    QTimer timer;
    long long last = 0;
    long long maxGap = 0;
    long long maxGapEnd = 0;  // when the largest gap ended
    long long reset = 0;
    Probe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const long long now = NowNs();
            if (last && now - last > maxGap) {
                maxGap = now - last;
                maxGapEnd = now;
            }
            last = now;
        });
        timer.start(10);
    }
    void Reset()
    {
        last = 0;
        maxGap = 0;
        reset = NowNs();
    }
    // Where the largest gap fell: seconds after Reset.
    double MaxGapAt() const { return (maxGapEnd - maxGap - reset) / 1e9; }
};

template <typename Done>
bool Wait(Done done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        // Sleeps until an event (the probe fires every 10 ms): a spinning wait would take a core from the workers.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Args {
    int photos = 15000;
    int files = 5000;
    int large = 30;
    int bombs = 0;
    QString shot;
};

Args Parse(const QStringList& list)
{
    Args args;
    for (int i = 1; i + 1 < list.size(); i += 2) {
        if (list[i] == "--photos") args.photos = list[i + 1].toInt();
        else if (list[i] == "--files") args.files = list[i + 1].toInt();
        else if (list[i] == "--large") args.large = list[i + 1].toInt();
        else if (list[i] == "--bombs") args.bombs = list[i + 1].toInt();
        else if (list[i] == "--shot") args.shot = list[i + 1];
    }
    return args;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const Args args = Parse(app.arguments());
    QTemporaryDir scratch;  // everything the bench writes, removed at the end
    const QString root = scratch.path();
    qputenv("XDG_DATA_HOME", (root + "/data").toLocal8Bit());
    qputenv("TMPDIR", (root + "/tmp").toLocal8Bit());
    QDir().mkpath(root + "/data");
    QDir().mkpath(root + "/tmp");

    // The stand-in engine's folder, as the window checks it.
    const QString engine = root + "/engine";
    QDir().mkpath(engine + "/formats");
    QFile::link(QCoreApplication::applicationDirPath() + "/harvest_standin_engine", engine + "/photo");
    WriteFile(engine + "/libcarver.so", {});
    const QString source = root + "/source";
    QDir().mkpath(source);
    QFile::link(source, engine + "/bench-source");
    std::printf("generating %d photos (%d of 24 MP without preview) and %d other files...\n", args.photos,
                args.large, args.files);
    std::fflush(stdout);
    const qint64 bytes = Generate(source, args.photos, args.files, args.large, args.bombs);
    std::printf("  %.0f MB in %s\n", bytes / 1e6, qPrintable(source));

    // The scanned "disk": a small image on another file system than the output folder.
    QTemporaryDir shm(QStringLiteral("/dev/shm/snapmend-bench-XXXXXX"));
    const QString image = shm.path() + "/card.img";
    QFile imageFile(image);
    imageFile.open(QIODevice::WriteOnly);
    imageFile.resize(1 << 20);
    imageFile.close();

    test::ScriptedUiServices ui;
    test::FakeSystemInfo system;
    OneDrive drives;
    DriveRecord record;
    record.name = "/media/card";
    record.physicalPath = image;
    record.engineDevice = image;
    record.capacity = 1 << 20;
    drives.drives = {record};
    PlatformServices platform;
    platform.ui = &ui;
    platform.system = &system;
    platform.drives = &drives;
    platform.programFolder = QCoreApplication::applicationDirPath() + "/";
    platform.engineFolder = engine;

    Probe probe;
    const size_t heapBefore = HeapInUse();
    auto dialog = std::make_unique<MainDialog>(platform);
    dialog->OnInitDialog();
    dialog->show();
    dialog->OnTimer(TIMER_STARTUP);
    auto* drivesList = dialog->findChild<QTreeWidget*>("control1001");
    drivesList->setCurrentItem(drivesList->topLevelItem(0));
    auto* recover = dialog->findChild<CStyledButton*>("control1002");
    auto* photosView = dialog->findChild<PhotoListView*>("control1010");
    auto* filesView = dialog->findChild<FileListView*>("control1017");
    const size_t heapWindow = HeapInUse();
    const double rssWindow = RssMb();

    probe.Reset();
    const double cpuBefore = CpuSeconds();
    const double idleBefore = MachineIdleSeconds();
    const long long started = NowNs();
    dialog->findChild<CStyledButton*>("control1004")->click();
    // The window's CPU and the machine's idle time when the stand-in's last file is written:
    // whether the tail after it is decoding-bound with every core busy.
    double cpuAtLastWrite = -1;
    double idleAtLastWrite = 0;
    long long seenLastWrite = 0;
    const QString stampPath = engine + "/bench-last-write";
    const bool readied = Wait(
        [&] {
            if (cpuAtLastWrite < 0 && QFile::exists(stampPath)) {
                cpuAtLastWrite = CpuSeconds();
                idleAtLastWrite = MachineIdleSeconds();
                seenLastWrite = NowNs();
            }
            return recover->isVisible() && recover->text() == "Recover";
        },
        3600 * 1000);
    if (!readied) {
        std::fprintf(stderr, "no ready view\n");
        return 1;
    }
    const long long ready = NowNs();
    const double harvestCpu = CpuSeconds() - cpuBefore;
    const double harvestIdle = MachineIdleSeconds() - idleBefore;
    const long long harvestGap = probe.maxGap;
    const double harvestGapAt = probe.MaxGapAt();
    long long lastWrite = 0;
    int written = 0;
    if (QFile stamp(engine + "/bench-last-write"); stamp.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = stamp.readAll().trimmed().split(' ');
        lastWrite = parts.value(0).toLongLong();
        written = parts.value(1).toInt();
    }
    QDir(source).removeRecursively();  // the workspace holds the files now; keeps the bench's disk use down
    const int photos = photosView->Model().Count();
    const int files = filesView->Model().Count();
    const size_t heapReady = HeapInUse();
    const double rssReady = RssMb();
    QElapsedTimer walkClock;
    walkClock.start();
    QStringList walked;
    CollectWorkspaceFiles(dialog->Scan().Workspace().root, walked);
    const double walkMs = walkClock.nsecsElapsed() / 1e6;

    // Heap per result of each kind, from the models and views alone.
    size_t perPhoto = 0;
    size_t perFile = 0;
    {
        const size_t before = HeapInUse();
        auto view = std::make_unique<PhotoListView>();
        view->setViewMode(QListView::IconMode);
        view->resize(600, 300);
        for (int i = 0; i < photos; ++i) {  // rows of their own: no shared path or pixels
            const QString& path = photosView->Model().PathAt(i);
            view->Model().Insert(-1, QString(path.constData(), path.size()), photosView->Model().ThumbnailAt(i).copy());
        }
        view->show();
        QCoreApplication::processEvents();
        perPhoto = (HeapInUse() - before) / static_cast<size_t>(std::max(photos, 1));
    }
    {
        const size_t before = HeapInUse();
        auto view = std::make_unique<FileListView>();
        for (int i = 0; i < files; ++i) {
            const ResultItem& item = filesView->Model().ItemAt(i);
            view->Model().Append(QString(item.fullPath.constData(), item.fullPath.size()), item.size);
        }
        view->show();
        QCoreApplication::processEvents();
        perFile = (HeapInUse() - before) / static_cast<size_t>(std::max(files, 1));
    }

    std::printf("harvest: %d files written by the stand-in, %d photos and %d other files listed\n", written,
                photos, files);
    std::printf("  engine start to ready view:        %.2f s\n", (ready - started) / 1e9);
    std::printf("  last file written to ready view:   %.2f s (target <= 2 s where cores allow)\n",
                (ready - lastWrite) / 1e9);
    std::printf("  largest 10 ms probe gap:           %.1f ms (target <= 100 ms), %.2f s after the start\n",
                harvestGap / 1e6, harvestGapAt);
    std::printf("  window's CPU during the harvest:   %.1f s in %.1f s: %.2f cores busy of %d (load average %s)\n",
                harvestCpu, (ready - started) / 1e9, harvestCpu / ((ready - started) / 1e9),
                QThread::idealThreadCount(), qPrintable(LoadAverage()));
    std::printf("  cores idle meanwhile (all programs): %.2f of %d\n", harvestIdle / ((ready - started) / 1e9),
                QThread::idealThreadCount());
    if (cpuAtLastWrite >= 0 && ready > seenLastWrite) {
        const double tail = (ready - seenLastWrite) / 1e9;
        std::printf("  after the last file: window %.2f cores busy, all programs' idle %.2f of %d, over %.2f s\n",
                    (harvestCpu + cpuBefore - cpuAtLastWrite) / tail, (harvestIdle + idleBefore - idleAtLastWrite) / tail,
                    QThread::idealThreadCount(), tail);
    }
    std::printf("  RSS growth of the window:          %.1f MB (%.1f KB per result); main-arena heap %.1f MB\n",
                rssReady - rssWindow, (rssReady - rssWindow) * 1e6 / 1024.0 / std::max(photos + files, 1),
                (heapReady - heapWindow) / 1e6);
    std::printf("  one workspace walk (each pass):    %.1f ms for %lld files\n", walkMs,
                static_cast<long long>(walked.size()));
    std::printf("  heap per photo row (model+view):   %.1f KB (target < 20 KB)\n", perPhoto / 1024.0);
    std::printf("  heap per other-file row:           %.2f KB (target < 1 KB)\n", perFile / 1024.0);
    std::printf("  heap before the window:            %.1f MB\n", heapBefore / 1e6);

    if (!args.shot.isEmpty()) {
        photosView->scrollTo(photosView->Model().index(photos / 2), QAbstractItemView::PositionAtCenter);
        filesView->scrollTo(filesView->Model().index(files / 2, 0), QAbstractItemView::PositionAtCenter);
        Wait([] { return false; }, 500);
        if (QProcess::execute("import", {"-window", "root", args.shot}) != 0)
            dialog->grab().save(args.shot);
        std::printf("  screenshot: %s\n", qPrintable(args.shot));
    }

    // Recovery of everything against cp -r of the workspace's files.
    const QString workspaceFiles = dialog->Scan().Workspace().engineOutputDir;
    const QString cpTarget = root + "/cp-copy";
    QElapsedTimer cpClock;
    cpClock.start();
    QProcess::execute("cp", {"-r", workspaceFiles, cpTarget});
    const double cpOnlySeconds = cpClock.nsecsElapsed() / 1e9;
    QProcess::execute("sync", {});
    const double cpSeconds = cpClock.nsecsElapsed() / 1e9;
    QDir(cpTarget).removeRecursively();
    QProcess::execute("sync", {});

    auto* output = dialog->findChild<QLineEdit*>("control1003");
    output->setText(root + "/recovered");
    ui.QueueAnswer(IDNO);
    probe.Reset();
    const long long copyStarted = NowNs();
    recover->click();
    auto* progressText = dialog->findChild<QWidget*>("control1012");
    const QString allDone = QStringLiteral("Recovering photo %1 of %1").arg(photos + files);
    long long allCopied = 0;
    if (!Wait(
            [&] {
                if (!allCopied && progressText->property("text").toString() == allDone)
                    allCopied = NowNs();
                return !ui.Boxes().empty();
            },
            3600 * 1000)) {
        std::fprintf(stderr, "no recovery report\n");
        return 1;
    }
    const double copySeconds = (NowNs() - copyStarted) / 1e9;

    const long long copyGap = probe.maxGap;
    const double copyGapAt = probe.MaxGapAt();
    const int recovered = static_cast<int>(QDir(root + "/recovered").entryList(QDir::Files).size());
    std::printf("recovery: %d files, %.0f MB\n", recovered, bytes / 1e6);
    std::printf("  report: %s\n", qPrintable(ui.Boxes().front().text.section('\n', 0, 0)));
    const double copiedSeconds = (allCopied - copyStarted) / 1e9;
    std::printf("  window recovery: %.2f s to the last file shown copied (%.0f MB/s), %.2f s to the report\n",
                copiedSeconds, bytes / 1e6 / copiedSeconds, copySeconds);
    std::printf("  cp -r:           %.2f s (%.0f MB/s); throughput ratio window/cp %.2f (target >= 0.5)\n",
                cpOnlySeconds, bytes / 1e6 / cpOnlySeconds, cpOnlySeconds / copiedSeconds);
    std::printf("  cp -r + sync:    %.2f s (%.0f MB/s); ratio %.2f (the window flushes what it copies)\n", cpSeconds,
                bytes / 1e6 / cpSeconds, cpSeconds / copiedSeconds);
    std::printf("  largest 10 ms probe gap during the recovery: %.1f ms (target <= 100 ms), %.2f s after Recover\n",
                copyGap / 1e6, copyGapAt);
    std::printf("peak RSS: %.1f MB\n", PeakRssKb() / 1024.0);
    dialog.reset();
    return 0;
}
