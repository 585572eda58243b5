// FormatSize and MakeEngineDeviceName as tables.
#include <QSet>
#include <gtest/gtest.h>

#include "DriveRecord.h"

using namespace snapmend;

TEST(FormatSizeTest, StrictThresholdsAndOneDecimal)
{
    const struct {
        qint64 bytes;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},
        {1, "1 bytes"},
        {1024, "1024 bytes"},
        {1025, "1.0 KB"},
        {1536, "1.5 KB"},
        {1048575, "1024.0 KB"},
        {1048576, "1024.0 KB"},
        {1048577, "1.0 MB"},
        {1073741824, "1024.0 MB"},
        {1073741825, "1.0 GB"},
        {500107862016LL, "465.8 GB"},
        {4000787030016LL, "3726.0 GB"},
        {-1, "-1 bytes"},
        {-4294967296LL, "-4294967296 bytes"},  // not wrapped to 32 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSize(c.bytes).toStdString(), c.text) << c.bytes;
}

TEST(MakeEngineDeviceNameTest, OneLetterThenTwoLikeTheKernel)
{
    const struct {
        unsigned disk;
        const char* name;
    } cases[] = {
        {0, "/dev/sda"},   {1, "/dev/sdb"},   {2, "/dev/sdc"},    {25, "/dev/sdz"},
        {26, "/dev/sdaa"}, {27, "/dev/sdab"}, {51, "/dev/sdaz"},  {52, "/dev/sdba"},
        {701, "/dev/sdzz"}, {702, "/dev/sdaaa"}, {4294967295u, "/dev/sdmwlqkwv"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeEngineDeviceName(c.disk).toStdString(), c.name) << c.disk;
}

TEST(MakeEngineDeviceNameTest, LettersOnlyAndOneNamePerDisk)
{
    QSet<QString> seen;
    for (unsigned disk = 0; disk < 20000; ++disk) {
        const QString name = MakeEngineDeviceName(disk);
        for (QChar c : name.mid(7))
            ASSERT_TRUE(c >= u'a' && c <= u'z') << disk;
        ASSERT_FALSE(seen.contains(name)) << disk;
        seen.insert(name);
    }
}
