// The output lock: exclusive creation, waiting, time-out, release, and the
// taking over of a lock whose holder is gone.
#include "app/lockholder.h"
#include "app/outputlock.h"
#include "logging/fatal.h"
#include "support/programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
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
    o.renewMilliseconds = 20;
    return o;
}

std::atomic<int> g_lastWait{0};
void recordWait(int waits)
{
    g_lastWait = waits;
}

}  // namespace

TEST(OutputLock, CreatesALockThatRecordsItsHolderAndRemovesItOnRelease)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    {
        OutputLock lock(output);
        EXPECT_EQ(lock.path(), output + ".tmp");
        ASSERT_EQ(lock.acquire(quick(5)), OutputLock::Result::Acquired);
        EXPECT_TRUE(lock.held());
        EXPECT_EQ(OutputLock::current(), &lock);
        const std::optional<LockHolder> holder = LockHolder::parse(readAll(output + ".tmp"));
        ASSERT_TRUE(holder.has_value());
        EXPECT_EQ(holder->pid, ::getpid());
        EXPECT_EQ(holder->host, LockHolder::self().host);
        EXPECT_EQ(lock.waits(), 0);
        // Its holder renews its time stamp while it holds it.
        const QByteArray path = QFile::encodeName(output + ".tmp");
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), old, 0), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        struct stat st {};
        ASSERT_EQ(::stat(path.constData(), &st), 0);
        EXPECT_GT(st.st_mtime, ::time(nullptr) - 60);

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

TEST(OutputLock, ReleaseRemovesWhatAFailureLeftOfTheWorkingFile)
{
    QTemporaryDir dir;
    const QString output = dir.path() + "/out.nc";
    for (const bool installed : {true, false}) {
        OutputLock lock(output);
        ASSERT_EQ(lock.acquire(quick(0)), OutputLock::Result::Acquired);
        EXPECT_EQ(lock.workingPath(), output + ".part");
        ASSERT_TRUE(touch(lock.workingPath()));
        if (installed) {
            ASSERT_TRUE(QFile::rename(lock.workingPath(), output));
        }
        lock.release();
        EXPECT_FALSE(QFile::exists(output + ".part")) << installed;
        EXPECT_FALSE(QFile::exists(output + ".tmp")) << installed;
        EXPECT_TRUE(QFile::exists(output)) << installed;
    }
}

TEST(OutputLock, ALockIsTakenOverOnlyWhenItsRecordedHolderIsGone)
{
    const LockHolder me = LockHolder::self();
    auto with = [&](auto change) {
        LockHolder h = me;
        change(h);
        return h.record();
    };
    struct Case {
        const char* what;
        QByteArray bytes;
        int ageSeconds;
        bool fileLocked;  // someone holds the old lock file's file lock
        const char* reason;  // why it is taken over; null: it is waited for
    };
    const long long gone = endedProcessId();
    // A holder killed while its parent is busy: ended, not yet collected.
    const pid_t zombie = ::fork();
    if (zombie == 0)
        ::_exit(0);
    ASSERT_GT(zombie, 0);
    std::optional<SeenProcess> seen;
    while (!(seen = seenProcess(zombie)) || !seen->ended)
        ::usleep(1000);
    const Case cases[] = {
        {"an ended holder its parent has not collected", with([&](LockHolder& h) {
             h.pid = zombie;
             h.start = seen->start;
         }),
         0, false, "the process has ended; its parent has not yet collected it"},
        {"a process that has ended", with([&](LockHolder& h) { h.pid = gone; }), 0, false, "no process has that id"},
        {"an id now of another process", with([](LockHolder& h) { h.start += 1; }), 0, false,
         "the process of that id is another one"},
        {"a holder from before a restart", with([](LockHolder& h) { h.boot = "another boot"; }), 0, false,
         "the machine has restarted since"},
        {"a running holder", me.record(), 0, false, nullptr},
        {"an ended one still holding its file lock", with([&](LockHolder& h) { h.pid = gone; }), 0, true, nullptr},
        {"another host, lease renewed", with([](LockHolder& h) { h.host = "elsewhere"; }), 30, false, nullptr},
        {"another host, lease run out", with([](LockHolder& h) { h.host = "elsewhere"; }), 120, false,
         "its lease has not been renewed for 12"},
        {"an older version's empty lock", QByteArray(), 600, false, nullptr},
        {"a record cut short", with([&](LockHolder& h) { h.pid = gone; }).chopped(3), 600, false, nullptr},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString output = dir.path() + "/out.nc", path = output + ".tmp";
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(c.bytes) == c.bytes.size());
        f.close();
        const struct timespec renewed[2] = {{::time(nullptr) - c.ageSeconds, 0}, {::time(nullptr) - c.ageSeconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), renewed, 0), 0);
        const int other = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        if (c.fileLocked) {
            ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        }
        OutputLock lock(output);
        ::testing::internal::CaptureStderr();
        const OutputLock::Result result = lock.acquire(quick(2));
        const std::string err = ::testing::internal::GetCapturedStderr();
        ::close(other);
        if (!c.reason) {
            EXPECT_EQ(result, OutputLock::Result::TimedOut) << c.what;
            EXPECT_TRUE(lock.takenOver().isEmpty()) << c.what;
            EXPECT_EQ(readAll(path), c.bytes) << c.what;
            continue;
        }
        EXPECT_EQ(result, OutputLock::Result::Acquired) << c.what;
        EXPECT_EQ(lock.waits(), 0) << c.what;
        const LockHolder was = *LockHolder::parse(c.bytes);
        const QString said = QString("the lock %1 is taken over from process %2 on %3: %4")
                                 .arg(path)
                                 .arg(was.pid)
                                 .arg(QString::fromLocal8Bit(was.host), c.reason);
        EXPECT_TRUE(lock.takenOver().startsWith(said)) << c.what << ": " << lock.takenOver().toStdString();
        EXPECT_EQ(err, lock.takenOver().toStdString() + "\n") << c.what;
        EXPECT_EQ(readAll(path), me.record()) << c.what;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << c.what;
        lock.release();
        EXPECT_FALSE(QFile::exists(path)) << c.what;
    }
    ::waitpid(zombie, nullptr, 0);
}

TEST(OutputLock, OneOfSeveralRunsFindingAGoneHolderTakesItsLockOver)
{
    LockHolder gone = LockHolder::self();
    gone.pid = endedProcessId();
    for (int round = 0; round < 20; ++round) {
        QTemporaryDir dir;
        const QString output = dir.path() + "/out.nc";
        QFile f(output + ".tmp");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(gone.record()) > 0);
        f.close();
        std::atomic<int> holders{0}, tookOver{0}, overlaps{0}, acquired{0};
        std::vector<std::thread> runs;
        ::testing::internal::CaptureStderr();
        for (int t = 0; t < 4; ++t)
            runs.emplace_back([&] {
                OutputLock lock(output);
                if (lock.acquire(quick(100000)) != OutputLock::Result::Acquired)
                    return;
                ++acquired;
                if (++holders > 1)
                    ++overlaps;
                tookOver += !lock.takenOver().isEmpty();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                --holders;
            });
        for (auto& r : runs)
            r.join();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(acquired.load(), 4) << round;
        EXPECT_EQ(tookOver.load(), 1) << round << err;
        EXPECT_EQ(overlaps.load(), 0) << round;
        EXPECT_FALSE(QFile::exists(output + ".tmp")) << round;
    }
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
