#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "FileTypesTemplate.h"
#include "SettingsFiles.h"

namespace snapmend {
namespace {

// A byte string that may hold NUL bytes.
template <size_t N>
QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

class SettingsFilesTest : public ::testing::Test {
protected:
    QString Folder() const { return m_dir.path() + QLatin1Char('/'); }
    QString PathOf(const QString& name) const { return Folder() + name; }

    void Put(const QString& name, const QByteArray& bytes) const
    {
        QFile file(PathOf(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    std::optional<QByteArray> Contents(const QString& name) const
    {
        QFile file(PathOf(name));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    QTemporaryDir m_dir;
};

struct ReadCase {
    const char* name;
    std::optional<QByteArray> content;  // nothing: no file
    const char* key;
    const char* expected;
};

TEST_F(SettingsFilesTest, ReadSettingValueTable)
{
    const QByteArray longLine = "savedir=/" + QByteArray(kMaxSettingLineBytes, 'x') + "\n";
    const std::vector<ReadCase> cases = {
        {"no file", std::nullopt, "savedir=", "DEFAULT"},
        {"empty file", QByteArray(), "savedir=", "DEFAULT"},
        {"one CR LF line", "savedir=/media/usb/Recovered\r\n", "savedir=", "/media/usb/Recovered"},
        {"one LF line", "savedir=/media/usb/Recovered\n", "savedir=", "/media/usb/Recovered"},
        {"no final line feed", "savedir=/srv/x", "savedir=", "/srv/x"},
        {"last matching line wins", "savedir=/a\nother=1\nsavedir=/b\n\n", "savedir=", "/b"},
        {"last line wins with CR LF", "savedir=/a\r\n\r\nsavedir=/b\r\n", "savedir=", "/b"},
        {"upper-case key", "SAVEDIR=/a\n", "savedir=", "DEFAULT"},
        {"blanks around equals", "savedir =/a\nsavedir= /b\n", "savedir=", " /b"},
        {"leading blank", " savedir=/a\n", "savedir=", "DEFAULT"},
        {"trailing blank kept", "savedir=/a b \n", "savedir=", "/a b "},
        {"quotes kept", "savedir=\"/a\"\n", "savedir=", "\"/a\""},
        {"key alone is empty value", "formats=\n", "formats=", ""},
        {"empty value overrides earlier", "formats=jpg\nformats=\r\n", "formats=", ""},
        {"shorter than the key", "formats\nformat\n", "formats=", "DEFAULT"},
        {"other key only", "savedir=/a\n", "formats=", "DEFAULT"},
        {"CR inside the value kept", "savedir=/a\rb\n", "savedir=", "/a\rb"},
        {"line with NUL ignored", Bytes("savedir=/good\nsavedir=/b\0d\n"), "savedir=", "/good"},
        {"binary junk around a line", Bytes("\x7f" "ELF\0\1\2\n\xff\xfe\0\nformats=rar\n\0\0"), "formats=",
         "rar"},
        {"over-long line skipped, not cut", "savedir=/short\n" + longLine, "savedir=", "/short"},
        {"line after an over-long one read", longLine + "savedir=/after\n", "savedir=", "/after"},
        {"UTF-8 path", "savedir=/home/zoë/Bilder\n", "savedir=", "/home/zoë/Bilder"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(PathOf(kSettingsFileName));
        if (c.content)
            Put(kSettingsFileName, *c.content);
        EXPECT_EQ(ReadSettingValue(Folder(), kSettingsFileName, QString::fromUtf8(c.key), QStringLiteral("DEFAULT")),
                  QString::fromUtf8(c.expected));
    }
}

TEST_F(SettingsFilesTest, LongPathsRoundTripWhole)
{
    for (int length : {258, 300, 4095}) {
        SCOPED_TRACE(length);
        QString path = QStringLiteral("/mnt/");
        while (path.size() < length)
            path += QStringLiteral("deep folder/");
        path.truncate(length);
        ASSERT_TRUE(SaveOutputFolder(Folder(), path));
        EXPECT_EQ(ReadSettingValue(Folder(), kSettingsFileName, kSaveDirKey, QStringLiteral("D")), path);
    }
}

TEST_F(SettingsFilesTest, WritesReplaceTheWholeFileWithOneLine)
{
    Put(kSettingsFileName, "savedir=/old\nkeep=me\nsavedir=/older\n");
    ASSERT_TRUE(SaveOutputFolder(Folder(), QStringLiteral("/new place/")));
    EXPECT_EQ(Contents(kSettingsFileName), QByteArray("savedir=/new place/\n"));

    Put(kFormatsFileName, "# hand edited\nformats=jpg\nformats=gif\n");
    ASSERT_TRUE(WriteFormats(Folder(), QStringLiteral("jpg,raw")));
    EXPECT_EQ(Contents(kFormatsFileName), QByteArray("formats=jpg,raw\n"));

    ASSERT_TRUE(WriteFormats(Folder(), QString()));
    EXPECT_EQ(Contents(kFormatsFileName), QByteArray("formats=\n"));
    EXPECT_EQ(ReadSettingValue(Folder(), kFormatsFileName, kFormatsKey, kDefaultFormats), QString());

    // Keys and files do not mix.
    EXPECT_EQ(ReadSettingValue(Folder(), kFormatsFileName, kSaveDirKey, QStringLiteral("D")), QStringLiteral("D"));
    EXPECT_EQ(Contents(kSettingsFileName), QByteArray("savedir=/new place/\n"));
}

TEST_F(SettingsFilesTest, UnwritablePlacesFailSilentlyAndKeepOldContent)
{
    // The settings file is a folder: neither read nor replaced.
    ASSERT_TRUE(QDir(Folder()).mkdir(kFormatsFileName));
    EXPECT_FALSE(WriteFormats(Folder(), QStringLiteral("jpg")));
    EXPECT_TRUE(QFileInfo(PathOf(kFormatsFileName)).isDir());
    EXPECT_EQ(ReadSettingValue(Folder(), kFormatsFileName, kFormatsKey, QStringLiteral("D")), QStringLiteral("D"));

    // A missing settings folder is made (private to its owner); one that cannot be made fails.
    EXPECT_TRUE(SaveOutputFolder(Folder() + QStringLiteral("config/snapmend/"), QStringLiteral("/x")));
    EXPECT_EQ(ReadSettingValue(Folder() + QStringLiteral("config/snapmend/"), kSettingsFileName, kSaveDirKey, {}),
              QStringLiteral("/x"));
    EXPECT_EQ(QFileInfo(Folder() + QStringLiteral("config")).permissions().toInt() & 0x0077, 0) << "group and others: no access";
    Put(QStringLiteral("blocker"), "x");
    EXPECT_FALSE(SaveOutputFolder(Folder() + QStringLiteral("blocker/snapmend/"), QStringLiteral("/x")));

    // A value that would not read back as one line is not written.
    Put(kSettingsFileName, "savedir=/old\n");
    EXPECT_FALSE(SaveOutputFolder(Folder(), QStringLiteral("/a\nsavedir=/b")));
    EXPECT_EQ(Contents(kSettingsFileName), QByteArray("savedir=/old\n"));
}

TEST_F(SettingsFilesTest, ReadOnlyProgramFolderFailsSilently)
{
    Put(kSettingsFileName, "savedir=/old\n");
    ASSERT_EQ(::chmod(QFile::encodeName(PathOf(kSettingsFileName)).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0555), 0);
    const auto writesFailAndChangeNothing = [this] {
        return !SaveOutputFolder(Folder(), QStringLiteral("/new")) && !WriteFormats(Folder(), QStringLiteral("jpg")) &&
               Contents(kSettingsFileName) == QByteArray("savedir=/old\n") &&
               !QFileInfo::exists(PathOf(kFormatsFileName));
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(writesFailAndChangeNothing());
    } else {
        // File modes do not bind root: check as an unprivileged user in a child.
        EXPECT_EXIT(
            {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    std::_Exit(2);
                std::_Exit(writesFailAndChangeNothing() ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
}

TEST_F(SettingsFilesTest, PipesAndEnormousFilesEndQuickly)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(PathOf(kSettingsFileName)).constData(), 0600), 0);

    // A sparse 8 GiB file: a value near its start is found, the rest is not read.
    {
        QFile big(PathOf(kFormatsFileName));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write("formats=zip\n");
        ASSERT_TRUE(big.resize(qint64(8) << 30));
    }

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(ReadSettingValue(Folder(), kSettingsFileName, kSaveDirKey, QStringLiteral("D")), QStringLiteral("D"));
    EXPECT_EQ(ReadSettingValue(Folder(), kFormatsFileName, kFormatsKey, QStringLiteral("D")), QStringLiteral("zip"));
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST(PickedFolderTest, TrailingSeparatorsGoExceptForTheRoot)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"/", "/"}, {"//", "/"}, {"/media/usb/", "/media/usb"}, {"/media/usb", "/media/usb"},
        {"/home/a b ", "/home/a b "}, {"", ""},
    };
    for (const auto& [picked, expected] : cases)
        EXPECT_EQ(NormalizePickedFolder(QString::fromUtf8(picked)), QString::fromUtf8(expected)) << picked;
}

TEST(FileTypesTableTest, KeysAreDistinctAndNoneHoldsAnother)
{
    // Substring membership only equals whole-item membership while this holds.
    const auto boxes = FileTypeCheckBoxes();
    ASSERT_EQ(boxes.size(), 24u);
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].id, IDC_FIRST_FORMAT + int(i));
        for (size_t j = 0; j < boxes.size(); ++j) {
            if (i == j)
                continue;
            EXPECT_FALSE(FormatListHasKey(QString::fromLatin1(boxes[j].key), QString::fromLatin1(boxes[i].key)))
                << boxes[i].key << " in " << boxes[j].key;
        }
    }
    EXPECT_EQ(FormatKeys().join(QLatin1Char(',')),
              QStringLiteral("jpg,gif,png,bmp,tif,avi,mpg,dat,wmv,asf,mp3,mp4,mov,3gp,rm,pdf,swf,doc,txt,wav,pst,zip,"
                             "rar,raw"));
}

}  // namespace
}  // namespace snapmend
