#include <gtest/gtest.h>

#include "EngineCommand.h"

using namespace snapmend;

namespace {

QString Line(const QString& formats) { return BuildEngineCommand("X:/ws/temp", "/dev/sda", formats).parameters; }

const QString kPrefix = QStringLiteral("/d \"X:/ws/temp\" /cmd /dev/sda");

}  // namespace

TEST(EngineCommand, BuildsTheSelectionFromTheEnabledKeys)
{
    struct Row { const char* formats; const char* selection; bool enabled; };
    const Row rows[] = {
        {"jpg,gif,png,bmp", " fileopt,everything,disable,jpg,enable,gif,enable,png,enable,bmp,enable,search", true},
        {"txt", " fileopt,everything,enable,search", true},
        {"jpg,txt,zip", " fileopt,everything,enable,search", true},
        {"rar,zip,jpg", " fileopt,everything,disable,jpg,enable,zip,enable,rar,enable,search", true},
        {"tiff", " fileopt,everything,disable,tif,enable,search", true},
        {"JPG", " fileopt,everything,disable,search", false},
        {"", " fileopt,everything,disable,search", false},
        {"mpg,dat,asf,mp3,mov,rm,pdf,swf,pst",
         " fileopt,everything,disable,mpg,enable,dat,enable,asf,enable,mp3,enable,mov,enable,rm,enable,pdf,enable,"
         "swf,enable,pst,enable,search",
         true},
    };
    for (const Row& row : rows) {
        const EngineCommand command = BuildEngineCommand("X:/ws/temp", "/dev/sda", row.formats);
        EXPECT_EQ(command.parameters, kPrefix + row.selection) << row.formats;
        EXPECT_EQ(command.anyEnabled, row.enabled) << row.formats;
    }
}

TEST(EngineCommand, EveryAllTypesKeyOutweighsTheSingleSwitches)
{
    for (const char* key : {"raw", "txt", "doc", "wav", "avi", "wmv", "mp4", "3gp"})
        EXPECT_EQ(Line(QStringLiteral("jpg,gif,%1,rar").arg(key)), kPrefix + " fileopt,everything,enable,search")
            << key;
    const QString all = "jpg,gif,png,bmp,tif,avi,mpg,dat,wmv,asf,mp3,mp4,mov,3gp,rm,pdf,swf,doc,txt,wav,pst,zip,rar,raw";
    EXPECT_EQ(Line(all), kPrefix + " fileopt,everything,enable,search");
}

TEST(EngineCommand, EverySingleKeyHasItsSwitchInTableOrder)
{
    const QStringList keys = {"jpg", "gif", "png", "bmp", "tif", "mpg", "dat", "asf",
                              "mp3", "mov", "rm",  "pdf", "swf", "pst", "zip", "rar"};
    QString expected = kPrefix + " fileopt,everything,disable,";
    for (const QString& key : keys) {
        EXPECT_EQ(Line(key), kPrefix + " fileopt,everything,disable," + key + ",enable,search");
        expected += key + ",enable,";
    }
    QStringList reversed(keys.rbegin(), keys.rend());
    EXPECT_EQ(Line(reversed.join(',')), expected + "search");
}

TEST(EngineCommand, TheEngineGetsOneArgumentPerWordWhateverThePathsHold)
{
    const EngineCommand command = BuildEngineCommand("/tmp/my \"work\"/temp", "/media/my card.img", "jpg");
    EXPECT_EQ(command.arguments, QStringList({"/d", "/tmp/my \"work\"/temp", "/cmd", "/media/my card.img",
                                              "fileopt,everything,disable,jpg,enable,search"}));
    EXPECT_EQ(command.parameters,
              "/d \"/tmp/my \"work\"/temp\" /cmd \"/media/my card.img\" fileopt,everything,disable,jpg,enable,search")
        << "the line shown keeps its form";
}
