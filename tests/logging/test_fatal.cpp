// The fatal end of a run: status, standard error, and the release of the
// run's own output lock.
#include "app/outputlock.h"
#include "logging/fatal.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

bool touch(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

}  // namespace

TEST(FatalDeathTest, ExitsWithTheStatusModulo256AndSaysWhyOnStandardError)
{
    EXPECT_EXIT(fatal(255, "read  config error", KV_HERE, "table: x.csv"),
                ::testing::ExitedWithCode(255), "read  config error\ntable: x.csv");
    EXPECT_EXIT(fatal(-1, "minus one", KV_HERE), ::testing::ExitedWithCode(255), "minus one");
    EXPECT_EXIT(fatal(2, "netcdf failure", KV_HERE, QString(), FatalLogLevel::Info),
                ::testing::ExitedWithCode(2), "netcdf failure");
}

TEST(FatalDeathTest, RemovesTheLockThisRunHolds)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    EXPECT_EXIT(
        {
            OutputLock lock(output);
            if (lock.acquire() != OutputLock::Result::Acquired || !QFile::exists(output + ".tmp"))
                std::_Exit(3);
            fatal(255, "failed while holding the lock", KV_HERE);
        },
        ::testing::ExitedWithCode(255), "failed while holding the lock");
    EXPECT_FALSE(QFile::exists(output + ".tmp"));
}

TEST(FatalDeathTest, LeavesALockItDoesNotHold)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    ASSERT_TRUE(touch(output + ".tmp"));
    EXPECT_EXIT(
        {
            OutputLock lock(output);
            OutputLock::Options quick;
            quick.pollMilliseconds = 1;
            quick.maxWaits = 2;
            if (lock.acquire(quick) != OutputLock::Result::TimedOut)
                std::_Exit(3);
            fatal(255, "wait for .nc.tmp time out", KV_HERE, QString(), FatalLogLevel::Info);
        },
        ::testing::ExitedWithCode(255), "time out");
    EXPECT_TRUE(QFile::exists(output + ".tmp"));
}

TEST(FatalDeathTest, LeavesALockReplacedByAnotherRun)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    EXPECT_EXIT(
        {
            OutputLock lock(output);
            if (lock.acquire() != OutputLock::Result::Acquired)
                std::_Exit(3);
            // Someone removed our lock and took a new one of their own.
            QFile::remove(output + ".tmp");
            if (!touch(output + ".tmp"))
                std::_Exit(4);
            fatal(255, "late failure", KV_HERE);
        },
        ::testing::ExitedWithCode(255), "late failure");
    EXPECT_TRUE(QFile::exists(output + ".tmp"));
}
