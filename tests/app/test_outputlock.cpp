// The output lock: exclusive creation, waiting, time-out and release.
#include "app/outputlock.h"
#include "logging/fatal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

bool touch(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

OutputLock::Options quick(int maxWaits)
{
    OutputLock::Options o;
    o.pollMilliseconds = 1;
    o.maxWaits = maxWaits;
    return o;
}

std::atomic<int> g_lastWait{0};
void recordWait(int waits)
{
    g_lastWait = waits;
}

}  // namespace

TEST(OutputLock, CreatesAnEmptyLockAndRemovesItOnRelease)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    {
        OutputLock lock(output);
        EXPECT_EQ(lock.path(), output + ".tmp");
        ASSERT_EQ(lock.acquire(quick(5)), OutputLock::Result::Acquired);
        EXPECT_TRUE(lock.held());
        EXPECT_EQ(OutputLock::current(), &lock);
        EXPECT_EQ(QFileInfo(output + ".tmp").size(), 0);
        EXPECT_EQ(lock.waits(), 0);

        // A second run cannot take it while it is held.
        OutputLock other(output);
        EXPECT_EQ(other.acquire(quick(3)), OutputLock::Result::TimedOut);
        EXPECT_FALSE(other.held());
    }
    EXPECT_FALSE(QFile::exists(output + ".tmp"));
    EXPECT_EQ(OutputLock::current(), nullptr);
}

TEST(OutputLock, TimesOutAfterTheWaitCountExceedsTheLimit)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    ASSERT_TRUE(touch(output + ".tmp"));
    OutputLock lock(output);
    g_lastWait = 0;
    EXPECT_EQ(lock.acquire(quick(300), recordWait), OutputLock::Result::TimedOut);
    EXPECT_EQ(lock.waits(), 301);
    EXPECT_EQ(g_lastWait.load(), 301);
    // Someone else's lock stays.
    lock.release();
    EXPECT_TRUE(QFile::exists(output + ".tmp"));
}

TEST(OutputLock, WaitsWhileAnotherRunHoldsIt)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    OutputLock first(output);
    ASSERT_EQ(first.acquire(quick(0)), OutputLock::Result::Acquired);

    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first.release();
    });
    OutputLock second(output);
    OutputLock::Options o = quick(100000);
    EXPECT_EQ(second.acquire(o), OutputLock::Result::Acquired);
    releaser.join();
    EXPECT_GT(second.waits(), 0);
    EXPECT_TRUE(QFile::exists(output + ".tmp"));
    second.release();
    EXPECT_FALSE(QFile::exists(output + ".tmp"));
}

TEST(OutputLock, ConcurrentRunsNeverHoldItTogether)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    std::atomic<int> holders{0};
    std::atomic<int> maxHolders{0};
    std::atomic<int> acquired{0};
    std::vector<std::thread> runs;
    for (int t = 0; t < 8; ++t) {
        runs.emplace_back([&] {
            for (int k = 0; k < 20; ++k) {
                OutputLock lock(output);
                if (lock.acquire(quick(100000)) != OutputLock::Result::Acquired)
                    continue;
                const int now = ++holders;
                int seen = maxHolders.load();
                while (now > seen && !maxHolders.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --holders;
                ++acquired;
                lock.release();
            }
        });
    }
    for (auto& r : runs)
        r.join();
    EXPECT_EQ(acquired.load(), 160);
    EXPECT_EQ(maxHolders.load(), 1);
    EXPECT_FALSE(QFile::exists(output + ".tmp"));
}

TEST(OutputLock, ReportsALockThatCannotBeCreated)
{
    QTemporaryDir dir;
    // The output directory is a plain file: no lock can be made below it.
    ASSERT_TRUE(touch(dir.path() + "/file"));
    OutputLock lock(dir.path() + "/file/out.nc");
    EXPECT_EQ(lock.acquire(quick(3)), OutputLock::Result::CannotCreate);
    EXPECT_EQ(lock.error(), ENOTDIR);
    EXPECT_EQ(lock.waits(), 0);

    OutputLock missing(dir.path() + "/none/out.nc");
    EXPECT_EQ(missing.acquire(quick(3)), OutputLock::Result::CannotCreate);
    EXPECT_EQ(missing.error(), ENOENT);
}

TEST(OutputLock, HandOverLeavesTheFileToItsNewOwner)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    {
        OutputLock lock(output);
        ASSERT_EQ(lock.acquire(quick(0)), OutputLock::Result::Acquired);
        // The writer renames the finished file onto the output.
        ASSERT_TRUE(QFile::rename(output + ".tmp", output));
        lock.handOver();
        EXPECT_FALSE(lock.held());
        EXPECT_EQ(OutputLock::current(), nullptr);
        ASSERT_TRUE(touch(output + ".tmp"));  // the next run's lock
    }
    EXPECT_TRUE(QFile::exists(output));
    EXPECT_TRUE(QFile::exists(output + ".tmp"));
}

TEST(OutputLock, ARunThatFailsRemovesOnlyTheLockItHolds)
{
    // Its own lock goes as the failure unwinds past it; a lock it never got,
    // or one another run put in place of its own, stays.
    enum class Case { Held, TimedOut, Replaced };
    for (Case c : {Case::Held, Case::TimedOut, Case::Replaced}) {
        QTemporaryDir dir;
        const QString output = dir.path() + "/out.nc";
        if (c == Case::TimedOut) {
            ASSERT_TRUE(touch(output + ".tmp"));
        }
        try {
            OutputLock lock(output);
            const OutputLock::Result result = lock.acquire(quick(2));
            ASSERT_EQ(result, c == Case::TimedOut ? OutputLock::Result::TimedOut : OutputLock::Result::Acquired);
            if (c == Case::Replaced) {
                QFile::remove(output + ".tmp");
                ASSERT_TRUE(touch(output + ".tmp"));
            }
            throw FatalError(255, "late failure", KV_HERE);
        } catch (const FatalError& end) {
            EXPECT_EQ(end.status(), 255);
        }
        EXPECT_EQ(QFile::exists(output + ".tmp"), c != Case::Held) << static_cast<int>(c);
        EXPECT_EQ(OutputLock::current(), nullptr);
    }
}
