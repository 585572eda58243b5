// The result lists' models as their views see them: filtered by name words,
// ordered by name, size or date, partial and recovered results marked.
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "QtPrinters.h"
#include "ResultModels.h"

using namespace snapmend;

namespace {

struct Sample {
    const char* name;
    int bytes;
    int year;  // modification time
};
const Sample kSamples[] = {
    {"IMG_0001.JPG", 300, 2020}, {"f100.partial.jpg", 100, 2023}, {"holiday.png", 200, 2021}, {"f200.jpg", 50, 2022}};

QString MakeSample(const QString& folder, const Sample& sample)
{
    const QString path = folder + "/" + sample.name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(sample.bytes, 'x'));
    file.flush();  // written before the time is set, or the close would set it again
    file.setFileTime(QDateTime(QDate(sample.year, 6, 1), QTime(12, 0)), QFileDevice::FileModificationTime);
    return path;
}

QStringList Shown(const QAbstractItemModel& view)
{
    QStringList names;
    for (int row = 0; row < view.rowCount(); ++row)
        names << view.index(row, 0).data(kNameRole).toString();
    return names;
}

QImage Grey() { QImage image(64, 64, QImage::Format_RGB888); image.fill(Qt::gray); return image; }

}  // namespace

TEST(ResultFilter, NarrowsByNameWordsAndOrdersBothListsAlike)
{
    QTemporaryDir folder;
    PhotoResultModel photos;
    FileResultModel files;
    std::vector<FoundPhoto> found;
    std::vector<FoundFile> other;
    for (const Sample& sample : kSamples) {
        const QString path = MakeSample(folder.path(), sample);
        found.push_back({path, Grey()});
        other.push_back({path, static_cast<quint64>(sample.bytes)});
    }
    photos.InsertMany(0, found);
    files.AppendMany(other);
    ResultFilter photoView, fileView;
    photoView.setSourceModel(&photos);
    fileView.setSourceModel(&files);

    const struct {
        const char* filter;
        ResultOrder order;
        QStringList shown;
    } cases[] = {
        {"", ResultOrder::Found, {"IMG_0001.JPG", "f100.partial.jpg", "holiday.png", "f200.jpg"}},
        {"", ResultOrder::Name, {"f100.partial.jpg", "f200.jpg", "holiday.png", "IMG_0001.JPG"}},
        {"", ResultOrder::Size, {"IMG_0001.JPG", "holiday.png", "f100.partial.jpg", "f200.jpg"}},
        {"", ResultOrder::Date, {"f100.partial.jpg", "f200.jpg", "holiday.png", "IMG_0001.JPG"}},
        {"jpg", ResultOrder::Found, {"IMG_0001.JPG", "f100.partial.jpg", "f200.jpg"}},
        {" PARTIAL ", ResultOrder::Found, {"f100.partial.jpg"}},
        {"f .jpg", ResultOrder::Size, {"f100.partial.jpg", "f200.jpg"}},
        {"nothing", ResultOrder::Name, {}},
    };
    for (const auto& c : cases) {
        for (ResultFilter* view : {&photoView, &fileView}) {
            view->SetFilterText(QString::fromLatin1(c.filter));
            view->SetOrder(c.order);
            EXPECT_EQ(Shown(*view), c.shown) << c.filter << " order " << int(c.order);
        }
    }

    // A row found while a filter and an order hold takes its place at once.
    const QString big = MakeSample(folder.path(), {"big.jpg", 1000, 2019});
    photoView.SetFilterText("jpg");
    photoView.SetOrder(ResultOrder::Size);
    photos.Insert(-1, big, Grey());
    EXPECT_EQ(Shown(photoView), (QStringList{"big.jpg", "IMG_0001.JPG", "f100.partial.jpg", "f200.jpg"}));
    // Ticking through the view ticks the row it shows.
    photoView.setData(photoView.index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_FALSE(photos.IsChecked(photos.Count() - 1));
}

TEST(ResultModels, PartialAndRecoveredResultsAreMarkedAndCounted)
{
    for (const auto& [name, partial] : {std::pair{"f12.partial.jpg", true}, {"DCIM/IMG_1.partial.JPG", true},
                                       {"f1.PARTIAL.mp4", true}, {"partial.jpg", false}, {"f.partial", false},
                                       {"a.partial/f1.jpg", false}, {"f1.jpg", false}})
        EXPECT_EQ(IsPartialName(name), partial) << name;

    QTemporaryDir folder;
    PhotoResultModel photos;
    FileResultModel files;
    std::vector<QString> paths;
    for (const Sample& sample : kSamples)
        paths.push_back(MakeSample(folder.path(), sample));
    for (const QString& path : paths)
        photos.Insert(-1, path, Grey());
    files.Append(paths[1], 100);
    files.Append(paths[2], 200);
    EXPECT_EQ(photos.PartialCount(), 1);
    EXPECT_EQ(files.PartialCount(), 1);
    // The partial photo's thumbnail carries its band; the others are as found.
    EXPECT_NE(photos.ThumbnailAt(1).pixel(32, 2), Grey().pixel(32, 2));
    EXPECT_EQ(photos.ThumbnailAt(0).pixel(32, 2), Grey().pixel(32, 2));
    EXPECT_EQ(files.index(0, 3).data().toString(), "partial");
    EXPECT_TRUE(photos.index(1).data(Qt::ToolTipRole).toString().startsWith("f100.partial.jpg\n100 bytes"));

    // A recovery marks what it copied and unticks it; unticked rows it did not copy stay as they were.
    photos.SetChecked(3, false);
    const auto copied = [&](const QString& path) { return path == paths[1] || path == paths[2]; };
    photos.MarkRecoveredWhere(copied);
    files.MarkRecoveredWhere(copied);
    photos.MarkRecoveredWhere(copied);  // a second time changes nothing
    EXPECT_EQ(photos.RecoveredCount(), 2);
    EXPECT_EQ(files.RecoveredCount(), 2);
    EXPECT_EQ(photos.CheckedPaths(), std::vector<QString>{paths[0]});
    EXPECT_TRUE(photos.IsRecovered(2) && !photos.IsRecovered(3));
    EXPECT_NE(photos.ThumbnailAt(2).pixel(32, 62), Grey().pixel(32, 62)) << "the recovered band";
    EXPECT_EQ(files.index(0, 3).data().toString(), "partial, recovered");
    EXPECT_EQ(files.index(1, 3).data().toString(), "recovered");
    EXPECT_TRUE(files.CheckedPaths().empty());

    photos.Clear();
    EXPECT_EQ(photos.PartialCount() + photos.RecoveredCount(), 0);
}
