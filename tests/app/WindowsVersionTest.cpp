#include <gtest/gtest.h>

#include "Administrator.h"
#include "FakeSystemInfo.h"
#include "PlatformServices.h"
#include "ScriptedUiServices.h"
#include "WindowsVersion.h"

using namespace snapmend;

TEST(WindowsVersion, ClassifiesEveryRowOfTheTable)
{
    struct Row { unsigned platform, major, minor; std::optional<int> code; };
    const Row rows[] = {
        {0, 3, 10, 7},  {0, 9, 9, 7},
        {1, 3, 95, 1},  {1, 4, 0, 1},   {1, 4, 1, 2},  {1, 4, 10, 2}, {1, 4, 89, 2},
        {1, 4, 90, 3},  {1, 5, 0, 3},
        {2, 3, 51, 4},  {2, 4, 0, 4},   {2, 5, 0, 5},  {2, 5, 1, 6},  {2, 5, 2, 6},
        {2, 6, 0, 8},   {2, 6, 3, 8},   {2, 7, 0, std::nullopt}, {2, 10, 0, std::nullopt},
        {3, 10, 0, 9},  {99, 1, 1, 9},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ClassifyWindowsVersion(row.platform, row.major, row.minor), row.code)
            << "platform " << row.platform << " version " << row.major << "." << row.minor;
}

TEST(WindowsVersion, FallsBackFromTheExtendedToThePlainStructure)
{
    test::FakeSystemInfo system;
    int code = -1;
    EXPECT_FALSE(GetWindowsVersionCode(system, code)) << "both queries fail";
    EXPECT_EQ(code, -1);

    system.versions[148] = {2, 5, 1};
    EXPECT_TRUE(GetWindowsVersionCode(system, code));
    EXPECT_EQ(code, 6);

    system.versions[156] = {2, 6, 1};
    EXPECT_TRUE(GetWindowsVersionCode(system, code)) << "the extended answer wins when it comes";
    EXPECT_EQ(code, 8);

    system.versions[156] = {2, 10, 0};
    code = 42;
    EXPECT_TRUE(GetWindowsVersionCode(system, code));
    EXPECT_EQ(code, 42) << "no code for NT 7 and later: left unchanged";
}

TEST(Administrator, ChoosesTheMessageByVersion)
{
    test::FakeSystemInfo system;
    PlatformServices platform;
    platform.system = &system;

    QString refusal;
    EXPECT_TRUE(IsAdministrator(platform, refusal));
    EXPECT_TRUE(refusal.isEmpty());

    const QString lead = QStringLiteral("Your need to be administrator to use Kestrova Snapmend to recover photos.\n\n");
    const QString logIn = lead + "Please log off your computer and then log in as Administrator, install Kestrova "
                                 "Snapmend and use it to recover photos.";
    system.admin = false;
    system.versions[156] = {2, 6, 1};
    EXPECT_FALSE(IsAdministrator(platform, refusal));
    EXPECT_EQ(refusal, lead + "Please select Kestrova Snapmend, right click and choose \"Run as administrator\".");
    system.versions[156] = {2, 5, 1};
    EXPECT_FALSE(IsAdministrator(platform, refusal));
    EXPECT_EQ(refusal, logIn);
    system.versions.clear();
    EXPECT_FALSE(IsAdministrator(platform, refusal));
    EXPECT_EQ(refusal,
              "You need to be administrator (root) to use Kestrova Snapmend to recover photos: reading a disk "
              "directly needs it.\n\nPlease start it from its menu entry (Snapmend, under System), which asks for "
              "your password, or from a terminal with \"pkexec snapmend\" or \"sudo snapmend\".")
        << "no version query (Linux): how to start it as root here";
}
