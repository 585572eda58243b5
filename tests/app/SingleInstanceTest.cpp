#include <QCoreApplication>
#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

QString ProbePath() { return QString::fromLocal8Bit(qgetenv("SNAPMEND_BUILD_DIR")) + "/tests/app/single_instance_probe"; }

QString UniqueLockName() { return "KestrovaSnapmend Test " + QUuid::createUuid().toString(QUuid::Id128); }

QString StartFirst(QProcess& first, const QString& lockName, const QString& caption)
{
    first.start(ProbePath(), {lockName, caption});
    if (!first.waitForStarted(5000) || !first.waitForReadyRead(10000))
        return {};
    return QString::fromLatin1(first.readLine()).trimmed();
}

QString RunSecond(const QString& lockName)
{
    QProcess second;
    second.start(ProbePath(), {lockName, "unused"});
    if (!second.waitForFinished(10000))
        return "timeout";
    if (second.exitCode() != 0)
        return "exit " + QString::number(second.exitCode());
    return QString::fromLatin1(second.readAllStandardOutput()).trimmed();
}

}  // namespace

TEST(SingleInstance, SecondProcessBringsTheFirstWindowForwardAndEnds)
{
    const QString lockName = UniqueLockName();
    QProcess first;
    ASSERT_EQ(StartFirst(first, lockName, "Kestrova Snapmend"), "first");

    EXPECT_EQ(RunSecond(lockName), "second");
    ASSERT_TRUE(first.waitForReadyRead(10000)) << "the first window was not brought forward";
    EXPECT_EQ(QString::fromLatin1(first.readLine()).trimmed(), "activated");
    first.waitForFinished(5000);
}

TEST(SingleInstance, ACaptionThatDiffersIsNotFoundAndTheSecondStillEnds)
{
    const QString lockName = UniqueLockName();
    QProcess first;
    ASSERT_EQ(StartFirst(first, lockName, "Kestrova Snapmend 2"), "first");

    EXPECT_EQ(RunSecond(lockName), "second");
    EXPECT_FALSE(first.waitForReadyRead(1000)) << "a window with another caption was brought forward";
    first.kill();
    first.waitForFinished(5000);
}

TEST(SingleInstance, TheLockDiesWithTheFirstProcess)
{
    const QString lockName = UniqueLockName();
    {
        QProcess first;
        ASSERT_EQ(StartFirst(first, lockName, "Kestrova Snapmend"), "first");
        first.kill();
        first.waitForFinished(5000);
    }
    QProcess again;
    EXPECT_EQ(StartFirst(again, lockName, "Kestrova Snapmend"), "first") << "a crashed first instance left a stale lock";
    again.kill();
    again.waitForFinished(5000);
}

TEST(SingleInstance, TheProgramStartedTwiceEndsTheSecondSilently)
{
    const QString program = QString::fromLocal8Bit(qgetenv("SNAPMEND_BUILD_DIR")) + "/snapmend";
    QProcess first;
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted(5000));
    // Give the first instance time to claim the lock and listen.
    first.waitForFinished(1500);
    ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();

    QProcess second;
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second instance kept running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running) << "the first instance must go on";
    first.terminate();
    if (!first.waitForFinished(3000))
        first.kill();
}
