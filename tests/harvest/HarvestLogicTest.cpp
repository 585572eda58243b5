// Pure harvesting logic: thumbnail geometry, names, classification, sorting,
// the workspace walk, decoding and the writing probe.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "DecodeBudget.h"
#include "FileProbe.h"
#include "ListedPaths.h"
#include "ResultItem.h"
#include "ScaledJpeg.h"
#include "StbResize.h"
#include "Thumbnail.h"
#include "ThumbnailGeometry.h"
#include "ThumbnailResample.h"
#include "WorkspaceFile.h"
#include "WorkspaceWalk.h"

using namespace snapmend;

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QImage Solid(int w, int h, QColor color, QImage::Format format = QImage::Format_RGB888)
{
    QImage image(w, h, format);
    image.fill(color);
    return image;
}

}  // namespace

TEST(ThumbnailGeometry, MatchesTheTableRowByRow)
{
    struct Row { int w, h; ThumbnailRect expected; };
    const Row rows[] = {
        {640, 480, {0, 7, 64, 48}},  {480, 640, {7, 0, 48, 64}},   {64, 64, {0, 0, 64, 64}},
        {100, 100, {0, 0, 63, 63}},  {200, 200, {0, 0, 63, 63}},   {100, 50, {0, 16, 63, 31}},
        {3000, 2000, {0, 10, 63, 42}}, {300, 100, {0, 21, 64, 21}}, {32, 16, {0, 16, 64, 32}},
        {1, 1, {0, 0, 64, 64}},
    };
    for (const Row& row : rows) {
        const ThumbnailRect r = ComputeThumbnailRect(row.w, row.h);
        EXPECT_EQ(r, row.expected) << row.w << "x" << row.h << " gave " << r.x << "," << r.y << "," << r.width
                                   << "," << r.height;
    }
    EXPECT_EQ(ComputeThumbnailRect(0, 480), ThumbnailRect{});
    EXPECT_EQ(ComputeThumbnailRect(1000, 1).height, 0);
}

TEST(ThumbnailGeometry, ReducedDecodeKeepsTwiceTheDrawnSize)
{
    struct Row { int w, h; QSize expected; };
    const Row rows[] = {
        {6000, 4000, {750, 500}},   // 1/8 still 750 x 500 >= 126 x 84
        {640, 480, {160, 120}},     // 1/4; 1/8 would be 80 wide < 128
        {6001, 4001, {751, 501}},   // rounded up like the decoder
        {200, 150, {200, 150}},     // 1/2 is 100 < 128: full size
        {64, 64, {64, 64}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReducedDecodeSize(row.w, row.h, ComputeThumbnailRect(row.w, row.h)), row.expected)
            << row.w << "x" << row.h;
}

TEST(ResultItemTest, SplitsNamesAndClassifiesPhotos)
{
    struct Row { const char* path; const char* name; const char* ext; bool photo; };
    const Row rows[] = {
        {"/w/temp/PHOTO.JPG", "PHOTO.JPG", "JPG", true},
        {"/w/temp/photo.jpe", "photo.jpe", "jpe", false},
        {"/w/temp/noext", "noext", "", false},
        {"/home/u/.local/share/kestrova/data/temp/f123", "f123", "", false},  // dot only in a folder
        {"/w/x.jpg/inner", "inner", "", false},
        {"/w/a.tar.gz", "a.tar.gz", "gz", false},
        {"/w/b.TiFf", "b.TiFf", "TiFf", true},
        {"/w/c.jpeg", "c.jpeg", "jpeg", true},
        {"/w/d.gif", "d.gif", "gif", true},
        {"/w/e.bmp", "e.bmp", "bmp", true},
        {"/w/f.tif", "f.tif", "tif", true},
        {"/w/g.png", "g.png", "png", true},
        {"/w/h.jpg.txt", "h.jpg.txt", "txt", false},
        {"/w/trailing.", "trailing.", "", false},
        {"nosep.png", "", "png", true},
    };
    for (const Row& row : rows) {
        const QString path = QString::fromUtf8(row.path);
        EXPECT_EQ(FileNameOfPath(path), QString::fromUtf8(row.name)) << row.path;
        EXPECT_EQ(ExtensionOfPath(path), QString::fromUtf8(row.ext)) << row.path;
        EXPECT_EQ(IsPhotoPath(path), row.photo) << row.path;
    }
}

TEST(ResultItemTest, ComparesSizesAsFull64BitValues)
{
    auto item = [](quint64 size) { return MakeResultItem(QStringLiteral("/w/f"), size); };
    const quint64 GiB = 1ull << 30;
    struct Row { quint64 a, b; int sign; };
    const Row rows[] = {
        {5 * GiB, 1024, 1},          // low 32 bits of 5 GiB are 1 GiB
        {4 * GiB + 1, 2, 1},         // low 32 bits are 1 < 2
        {3 * GiB, 1, 1},             // a 32-bit difference would be negative
        {1, 3 * GiB, -1},
        {7, 7, 0},
        {0xFFFFFFFFFFFFFFFFull, 0, 1},
    };
    for (const Row& row : rows) {
        const int c = CompareResultItems(item(row.a), item(row.b), 1);
        EXPECT_EQ((c > 0) - (c < 0), row.sign) << row.a << " vs " << row.b;
    }
}

TEST(ResultItemTest, ComparesNamesAndExtensionsCaseSensitively)
{
    const ResultItem upper = MakeResultItem(QStringLiteral("/w/B.JPG"), 1);
    const ResultItem lower = MakeResultItem(QStringLiteral("/w/a.jpg"), 1);
    EXPECT_LT(CompareResultItems(upper, lower, 0), 0);  // 'B' < 'a' byte-wise
    EXPECT_LT(CompareResultItems(upper, lower, 2), 0);  // "JPG" < "jpg"
    EXPECT_EQ(CompareResultItems(lower, lower, 0), 0);
    EXPECT_GT(CompareResultItems(lower, upper, 0), 0);
}

TEST(ListedPathsTest, EmptyPathCountsAsListedAndMatchIsExact)
{
    ListedPaths listed;
    EXPECT_TRUE(listed.Contains(QString()));
    listed.Insert(QStringLiteral("/w/a.jpg"));
    EXPECT_TRUE(listed.Contains(QStringLiteral("/w/a.jpg")));
    EXPECT_FALSE(listed.Contains(QStringLiteral("/w/A.jpg")));
    EXPECT_FALSE(listed.Contains(QStringLiteral("/w/a.jpg ")));
    listed.Clear();
    EXPECT_FALSE(listed.Contains(QStringLiteral("/w/a.jpg")));
}

TEST(WorkspaceWalkTest, DepthFirstWithoutFollowingLinks)
{
    QTemporaryDir dir;
    QTemporaryDir outside;
    ASSERT_TRUE(dir.isValid() && outside.isValid());
    const QString root = dir.path();
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("temp/sub/deeper")));
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("empty")));
    for (const char* name : {"top.txt", "temp/a.jpg", "temp/b.dat", "temp/sub/c.png", "temp/sub/deeper/d"})
        ASSERT_TRUE(WriteFile(root + "/" + name, "x"));
    ASSERT_TRUE(WriteFile(outside.path() + "/secret.jpg", "x"));
    // A link back to the root would loop; links out of the workspace would leak.
    ASSERT_EQ(symlink(root.toLocal8Bit().constData(), (root + "/temp/sub/loop").toLocal8Bit().constData()), 0);
    ASSERT_EQ(symlink(outside.path().toLocal8Bit().constData(), (root + "/out").toLocal8Bit().constData()), 0);
    ASSERT_EQ(symlink((outside.path() + "/secret.jpg").toLocal8Bit().constData(),
                      (root + "/temp/link.jpg").toLocal8Bit().constData()), 0);
    ASSERT_EQ(mkfifo((root + "/temp/fifo").toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("temp/.snapmend")));  // the engine's bookkeeping
    ASSERT_TRUE(WriteFile(root + "/temp/.snapmend/report.xml", "x"));

    QStringList found;
    CollectWorkspaceFiles(root, found);
    QStringList expected;
    for (const char* name : {"top.txt", "temp/a.jpg", "temp/b.dat", "temp/sub/c.png", "temp/sub/deeper/d"})
        expected << root + "/" + name;
    QStringList sorted = found;
    sorted.sort();
    expected.sort();
    EXPECT_EQ(sorted, expected);

    // Depth first: the files below each folder form one contiguous run.
    for (const QString& folder : {root + "/temp/", root + "/temp/sub/"}) {
        int first = -1, last = -1;
        for (int i = 0; i < found.size(); ++i)
            if (found[i].startsWith(folder)) {
                if (first < 0)
                    first = i;
                last = i;
            }
        for (int i = first; i <= last; ++i)
            EXPECT_TRUE(found[i].startsWith(folder)) << found.join(QLatin1Char('\n')).toStdString();
    }

    QStringList none;
    CollectWorkspaceFiles(QString(), none);
    CollectWorkspaceFiles(root + "/missing", none);
    EXPECT_TRUE(none.isEmpty());
}

// Stored paths keep every byte of a name, show as text, and open only regular files.
TEST(WorkspacePathTest, NamesRoundTripShowAsTextAndOpenOnlyRegularFiles)
{
    const std::pair<QByteArray, bool> names[] = {  // the bytes, whether they are valid UTF-8
        {"plain.jpg", true},          {"\xC3\xA9t\xC3\xA9.jpg", true},        {"\xEF\xBB\xBF" "bom.jpg", true},
        {"\xF0\x9F\x98\x80.png", true}, {"bad\xFF.jpg", false},               {"cut\xE6\x97", false},
        {"\xED\xA0\x80surrogate", false}, {"\xF4\x90\x80\x80" "big", false}, {"\xC0\xAFoverlong", false}};
    for (const auto& [name, valid] : names) {
        SCOPED_TRACE(name.toHex().toStdString());
        const QString stored = PathFromBytes(name);
        EXPECT_EQ(BytesOfPath(stored), name);
        EXPECT_TRUE(DisplayText(stored).isValidUtf16());
        EXPECT_EQ(DisplayText(stored) == stored, valid) << "only bytes that are not text are replaced";
    }
    EXPECT_EQ(DisplayText(PathFromBytes("bad\xFF.jpg")), QString::fromUtf8("bad\xEF\xBF\xBD.jpg"));
    EXPECT_EQ(PathFromBytes("\xEF\xBB\xBF" "bom").size(), 4) << "a leading byte-order mark is kept";

    QTemporaryDir dir;
    const QString file = dir.path() + "/" + PathFromBytes("bad\xFF.jpg");
    const int fd = ::open(BytesOfPath(file).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "abc", 3), 3);
    ::close(fd);
    const UniqueFd opened = OpenWorkspaceFile(file);
    ASSERT_TRUE(opened.valid());
    char bytes[4] = {};
    EXPECT_EQ(::read(opened.get(), bytes, sizeof bytes), 3);
    EXPECT_TRUE(WorkspaceEntryExists(file));

    ASSERT_EQ(symlink(BytesOfPath(file).constData(), dir.filePath("link.jpg").toLocal8Bit().constData()), 0);
    ASSERT_EQ(mkfifo(dir.filePath("fifo.jpg").toLocal8Bit().constData(), 0600), 0);
    for (const char* refused : {"link.jpg", "fifo.jpg", ".", "missing.jpg"})
        EXPECT_FALSE(OpenWorkspaceFile(dir.filePath(refused)).valid()) << refused;
    EXPECT_TRUE(WorkspaceEntryExists(dir.filePath("fifo.jpg")));
    EXPECT_FALSE(WorkspaceEntryExists(dir.filePath("missing.jpg")));
    EXPECT_FALSE(OpenWorkspaceFile(QString()).valid());
}

// A workspace reached through the descriptor that holds it (/proc/self/fd/N):
// the walk and the opens follow that root, and nothing below it that is a link.
TEST(WorkspacePathTest, AHeldFolderRootIsFollowedAndLinksBelowItAreNot)
{
    QTemporaryDir dir;
    QTemporaryDir outside;
    ASSERT_TRUE(QDir(dir.path()).mkpath("temp/sub"));
    ASSERT_TRUE(WriteFile(dir.path() + "/temp/sub/a.jpg", "a"));
    ASSERT_TRUE(WriteFile(outside.path() + "/b.jpg", "b"));
    ASSERT_EQ(symlink(outside.path().toLocal8Bit().constData(), (dir.path() + "/temp/out").toLocal8Bit().constData()),
              0);
    const UniqueFd held(::open(dir.path().toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(held.valid());
    const QString root = QStringLiteral("/proc/self/fd/%1").arg(held.get());
    QStringList found;
    CollectWorkspaceFiles(root, found);
    EXPECT_EQ(found, QStringList{root + "/temp/sub/a.jpg"});
    const struct {
        QString path;
        bool opens;
    } cases[] = {
        {root + "/temp/sub/a.jpg", true},
        {root + "/temp/out/b.jpg", false},  // a folder link below the held root
        {root + "/temp/sub/missing.jpg", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OpenWorkspaceFile(c.path).valid(), c.opens) << c.path.toStdString();
}

// Grants add up to the capacity; a request beyond it is refused at once, one
// that does not fit yet is served once enough is given back.
TEST(DecodeBudgetTest, GrantsStayWithinTheCapacityAndAreGivenBack)
{
    DecodeBudget budget(100);
    EXPECT_FALSE(budget.Acquire(101).Granted());
    {
        DecodeGrant first = budget.Acquire(60);
        const DecodeGrant second = budget.Acquire(40);
        ASSERT_TRUE(first.Granted() && second.Granted());
        EXPECT_EQ(budget.InUse(), 100u);
        std::atomic<bool> served{false};
        std::thread waiter([&] {
            const DecodeGrant third = budget.Acquire(50);
            served = third.Granted() && budget.InUse() <= 100;
        });
        first = DecodeGrant();  // gives the 60 back
        waiter.join();
        EXPECT_TRUE(served);
        EXPECT_EQ(budget.InUse(), 40u);
    }
    EXPECT_EQ(budget.InUse(), 0u);

    // What a header declares decides: a progressive 20000 x 20000 JPEG's
    // coefficients alone pass the shared budget; no size overflows into a small cost.
    DeclaredPicture bomb{DeclaredPicture::Kind::Jpeg, QSize(20000, 20000), 3, 2500ULL * 2500 * 3 * 128};
    EXPECT_GT(*DecodeCostBytes(bomb, QSize(2500, 2500)), DecodeBudget::kSharedBytes);
    DeclaredPicture photo{DeclaredPicture::Kind::Jpeg, QSize(6000, 4000), 3, 0};
    EXPECT_LT(*DecodeCostBytes(photo, QSize(750, 500)), DecodeBudget::kSharedBytes / 16);
    DeclaredPicture huge{DeclaredPicture::Kind::Other, QSize(INT_MAX, INT_MAX), 4, 0};
    EXPECT_FALSE(DecodeCostBytes(huge, QSize(64, 64)).has_value());
    DeclaredPicture wide{DeclaredPicture::Kind::Gif, QSize(65535, 65535), 4, 0};
    EXPECT_GT(*DecodeCostBytes(wide, QSize(65535, 65535)), DecodeBudget::kSharedBytes);
}

TEST(FileProbeTest, LockedFileIsNotFinishedUntilTheWriterLetsGo)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/f1.jpg";
    ASSERT_TRUE(WriteFile(path, "data"));
    EXPECT_TRUE(IsFileWriteFinished(path));

    // A writer's lock on its own open file description, as the engine holds it.
    const int writer = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(IsFileWriteFinished(path));
    ::flock(writer, LOCK_UN);
    EXPECT_TRUE(IsFileWriteFinished(path));
    ::close(writer);

    EXPECT_FALSE(IsFileWriteFinished(dir.path() + "/gone"));
    EXPECT_FALSE(IsFileWriteFinished(QString()));
    ASSERT_EQ(symlink(path.toLocal8Bit().constData(), (dir.path() + "/link").toLocal8Bit().constData()), 0);
    EXPECT_FALSE(IsFileWriteFinished(dir.path() + "/link"));
}

TEST(ThumbnailTest, DrawsInsideTheRectangleOnWhite)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/wide.png";
    ASSERT_TRUE(Solid(640, 480, QColor(200, 0, 0)).save(path));
    const std::optional<QImage> thumb = MakeThumbnail(path);
    ASSERT_TRUE(thumb.has_value());
    EXPECT_EQ(thumb->size(), QSize(64, 64));
    EXPECT_EQ(thumb->format(), QImage::Format_RGB888);
    // Rectangle 0, 7, 64, 48: rows 7..54 hold the picture, the rest is white.
    for (int y : {0, 6, 55, 63})
        for (int x : {0, 31, 63})
            EXPECT_EQ(thumb->pixelColor(x, y), QColor(Qt::white)) << x << "," << y;
    for (int y : {7, 30, 54})
        for (int x : {0, 31, 63})
            EXPECT_EQ(thumb->pixelColor(x, y), QColor(200, 0, 0)) << x << "," << y;
}

TEST(ThumbnailTest, TransparencyShowsWhiteAndCatmullRomOvershoots)
{
    QTemporaryDir dir;
    const QString clear = dir.path() + "/clear.png";
    ASSERT_TRUE(Solid(32, 32, QColor(0, 0, 0, 0), QImage::Format_ARGB32).save(clear));
    const std::optional<QImage> blank = MakeThumbnail(clear);
    ASSERT_TRUE(blank.has_value());
    EXPECT_EQ(blank->pixelColor(32, 32), QColor(Qt::white));

    // A cubic interpolating filter rings next to a hard edge; a bilinear one never
    // leaves the range of its two inputs (here 64..192).
    QImage edge = Solid(8, 8, QColor(64, 64, 64));
    for (int y = 0; y < 8; ++y)
        for (int x = 4; x < 8; ++x)
            edge.setPixelColor(x, y, QColor(192, 192, 192));
    const QString edgePath = dir.path() + "/edge.png";
    ASSERT_TRUE(edge.save(edgePath));
    const std::optional<QImage> up = MakeThumbnail(edgePath);
    ASSERT_TRUE(up.has_value());
    int lowest = 255, highest = 0;
    for (int x = 0; x < 64; ++x) {
        lowest = std::min(lowest, up->pixelColor(x, 32).red());
        highest = std::max(highest, up->pixelColor(x, 32).red());
    }
    EXPECT_TRUE(lowest < 64 || highest > 192) << lowest << ".." << highest;
}

// Baseline, progressive, and progressive cut after its first (DC) scan: the
// last is all a 1/8 decode reads of a progressive file.
TEST(ThumbnailTest, LargeJpegIsDecodedAtAReducedSize)
{
    QTemporaryDir dir;
    const QString baseline = dir.path() + "/big.jpg";
    const QString progressive = dir.path() + "/progressive.jpg";
    const QString firstScan = dir.path() + "/first-scan.jpg";
    {
        const QImage big = Solid(6000, 4000, QColor(30, 120, 220));
        ASSERT_TRUE(big.save(baseline, "JPEG", 80));
        QImageWriter writer(progressive, "jpeg");
        writer.setQuality(80);
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(big));
    }
    QFile whole(progressive);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const qsizetype secondScan = bytes.indexOf("\xff\xda", bytes.indexOf("\xff\xda") + 2);
    ASSERT_GT(secondScan, 0);
    ASSERT_TRUE(WriteFile(firstScan, bytes.left(secondScan)));

    for (const QString& path : {baseline, progressive, firstScan}) {
        SCOPED_TRACE(path.toStdString());
        const UniqueFd fd = OpenWorkspaceFile(path);
        ASSERT_TRUE(fd.valid());
        EXPECT_EQ(DecodeJpegScaled(fd.get(), 8, DecodeBudget::kSharedBytes).size(), QSize(750, 500))
            << "decoded without the fallback";
        const std::optional<DecodedPicture> decoded = DecodeForThumbnail(path);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->originalSize, QSize(6000, 4000));
        EXPECT_EQ(decoded->pixels.size(), QSize(750, 500));
        const QImage thumb = RenderThumbnail(*decoded);
        // 3000 x 2000 proportions: rectangle 0, 10, 63, 42.
        EXPECT_EQ(thumb.pixelColor(63, 32), QColor(Qt::white));
        EXPECT_EQ(thumb.pixelColor(30, 9), QColor(Qt::white));
        EXPECT_NEAR(thumb.pixelColor(30, 30).blue(), 220, 4);
        EXPECT_NEAR(thumb.pixelColor(30, 30).red(), 30, 4);
    }
}

TEST(ThumbnailTest, NonPicturesAreNotDecodable)
{
    QTemporaryDir dir;
    const QString fake = dir.path() + "/fake.jpg";
    ASSERT_TRUE(WriteFile(fake, "this is no picture at all, just text\n"));
    EXPECT_FALSE(IsDecodableImage(fake));
    EXPECT_FALSE(MakeThumbnail(fake).has_value());
    EXPECT_FALSE(IsDecodableImage(dir.path() + "/missing.png"));
    const QString real = dir.path() + "/real.gif.jpg";  // content decides, not the name
    ASSERT_TRUE(Solid(10, 10, Qt::green).save(real, "PNG"));
    EXPECT_TRUE(IsDecodableImage(real));
}

// The thumbnail's own resampler against the library's Catmull-Rom in linear
// light, on a picture with gradients and hard edges, shrinking and enlarging.
TEST(ThumbnailTest, ResamplerAgreesWithTheReferenceCatmullRom)
{
    QImage picture(333, 250, QImage::Format_RGB888);
    {
        QPainter p(&picture);
        QLinearGradient sky(0, 0, 333, 250);
        sky.setColorAt(0, QColor(10, 40, 200));
        sky.setColorAt(1, QColor(250, 220, 90));
        p.fillRect(picture.rect(), sky);
        p.fillRect(40, 30, 120, 80, Qt::black);
        p.fillRect(200, 150, 3, 90, Qt::white);
    }
    const QSize sizes[] = {{64, 48}, {41, 64}, {300, 240}, {1, 1}};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(size.width());
        const QImage source = size.width() == 300 ? picture.copy(0, 0, 30, 24) : picture;
        QImage mine(size, QImage::Format_RGB888), reference(size, QImage::Format_RGB888);
        ResampleRgbCatmullRom(source.constBits(), source.width(), source.height(),
                              static_cast<int>(source.bytesPerLine()), mine.bits(), size.width(), size.height(),
                              static_cast<int>(mine.bytesPerLine()));
        ASSERT_TRUE(ResampleCatmullRom(source.constBits(), source.width(), source.height(),
                                       static_cast<int>(source.bytesPerLine()), reference.bits(), size.width(),
                                       size.height(), static_cast<int>(reference.bytesPerLine()), 3));
        int worst = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width() * 3; ++x)
                worst = std::max(worst, std::abs(mine.constScanLine(y)[x] - reference.constScanLine(y)[x]));
        EXPECT_LE(worst, 2);
    }
}
