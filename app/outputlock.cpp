#include "app/outputlock.h"

#include "app/lockholder.h"
#include "logging/qlogger.h"
#include "writer/nclwriter.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

OutputLock* s_current = nullptr;

// What the signal handler needs to remove the run's own lock, set up before
// the lock is taken: the handler may only use what is already there.
struct SignalledLock {
    char path[PATH_MAX + 1] = {};
    char working[PATH_MAX + 1] = {};
    pid_t holder = 0;  // a child the run forks is not its holder
    // ": the lock ... is removed; ... is left as it was", said after the
    // signal's number.
    char said[2 * PATH_MAX + 64] = {};
    size_t saidLength = 0;
    dev_t device = 0;
    ino_t inode = 0;
};
SignalledLock s_signalled;
volatile sig_atomic_t s_lockHeld = 0;

// The signals a scheduler or a user ends a run with, and a closed pipe.
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};

// Async-signal-safe.
void writeAll(int fd, const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, text, length);
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

// Removes the lock this run holds, if it still is this run's file, says so,
// and ends the process as killed by the signal, so that whoever started it
// sees what ended it. Only async-signal-safe calls.
extern "C" void onEndingSignal(int signal)
{
    if (s_lockHeld && ::getpid() == s_signalled.holder) {
        ::unlink(s_signalled.working);
        struct stat st {};
        if (::stat(s_signalled.path, &st) == 0 && st.st_dev == s_signalled.device &&
            st.st_ino == s_signalled.inode && ::unlink(s_signalled.path) == 0) {
            char digits[16];
            char number[16];
            size_t n = 0;
            for (int v = signal; v > 0 && n < sizeof digits; v /= 10)
                digits[n++] = static_cast<char>('0' + v % 10);
            size_t k = 0;
            while (n > 0)
                number[k++] = digits[--n];
            static const char kStart[] = "ended by signal ";
            writeAll(STDERR_FILENO, kStart, sizeof kStart - 1);
            writeAll(STDERR_FILENO, number, k);
            writeAll(STDERR_FILENO, s_signalled.said, s_signalled.saidLength);
        }
    }
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
}

// Once per process: the ending signals go through onEndingSignal. A signal
// the process was started with ignored stays ignored.
void catchEndingSignals()
{
    static bool caught = false;
    if (caught)
        return;
    caught = true;
    for (const int signal : kEndingSignals) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        struct sigaction handler {};
        handler.sa_handler = onEndingSignal;
        sigemptyset(&handler.sa_mask);
        for (const int other : kEndingSignals)
            sigaddset(&handler.sa_mask, other);
        ::sigaction(signal, &handler, nullptr);
    }
}

void copyPath(char (&to)[PATH_MAX + 1], const QByteArray& path)
{
    const size_t length = std::min<size_t>(static_cast<size_t>(path.size()), PATH_MAX);
    std::memcpy(to, path.constData(), length);
    to[length] = '\0';
}

// Sets up what the handler says and removes for the lock at `path`, before
// the lock exists.
void prepareSignalledLock(const QByteArray& path, const QByteArray& working, const QString& outputName)
{
    s_lockHeld = 0;
    copyPath(s_signalled.path, path);
    copyPath(s_signalled.working, working);
    s_signalled.holder = ::getpid();
    const QByteArray said = QString(": the lock %1 is removed; %2 is left as it was\n")
                                .arg(QString::fromLocal8Bit(path), outputName)
                                .toLocal8Bit();
    s_signalled.saidLength = std::min<size_t>(static_cast<size_t>(said.size()), sizeof s_signalled.said);
    std::memcpy(s_signalled.said, said.constData(), s_signalled.saidLength);
}

void releaseCurrentLock()
{
    if (s_current)
        s_current->release();
}

// Said once, at the first wait: another run holds the lock.
void sayWaiting(const QByteArray& path)
{
    struct stat st {};
    QString age = "of unknown age";
    if (::stat(path.constData(), &st) == 0)
        age = QString("taken %1 s ago").arg(std::max<long long>(0, static_cast<long long>(::time(nullptr) - st.st_mtime)));
    std::fprintf(stderr, "waiting for the lock %s (%s) held by another run\n", path.constData(),
                 age.toLocal8Bit().constData());
    std::fflush(stderr);
}

// The holder record a lock file's descriptor holds, or nothing.
std::optional<LockHolder> recordedHolder(int fd)
{
    char bytes[4096];
    const ssize_t n = ::pread(fd, bytes, sizeof bytes, 0);
    if (n <= 0)
        return std::nullopt;
    return LockHolder::parse(QByteArray(bytes, static_cast<int>(n)));
}

// Marks `fd` as this run's lock (an exclusive file lock, which the kernel
// lets go of when the process ends however it ends) and writes its record.
void writeRecord(int fd)
{
    // A file system without file locks leaves the record alone to say it.
    ::flock(fd, LOCK_EX | LOCK_NB);
    const QByteArray record = LockHolder::self().record();
    writeAll(fd, record.constData(), static_cast<size_t>(record.size()));
}

// A lock file with this run's record, made beside the lock under a name of
// this run's own (`fresh`), so that the lock never exists without its
// record: it is put in place by one link or rename. -1, errno set, if it
// cannot be made.
int recordedFile(const QByteArray& fresh)
{
    const int fd = ::open(fresh.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0)
        writeRecord(fd);
    return fd;
}

// Unique to the host, the process and the attempt.
QByteArray freshName(const QByteArray& path)
{
    static std::atomic<unsigned> attempts{0};
    const LockHolder me = LockHolder::self();
    return path + "." + me.host + "-" + QByteArray::number(me.pid) + "-" + QByteArray::number(++attempts);
}

// Puts the recorded file `fd` (at `fresh`) in place as the lock at `path`
// unless a lock is there: returns the lock's descriptor, or -1 with errno
// EEXIST when the lock is taken, or another errno when it cannot be made.
int placeLock(int fd, const QByteArray& fresh, const QByteArray& path)
{
    if (::link(fresh.constData(), path.constData()) == 0) {
        ::unlink(fresh.constData());
        return fd;
    }
    const int linkError = errno;
    ::unlink(fresh.constData());
    ::close(fd);
    if (linkError == EEXIST) {
        errno = EEXIST;
        return -1;
    }
    // A file system without hard links: exclusive creation, the record
    // written just after.
    const int created = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (created >= 0)
        writeRecord(created);
    return created;
}

}  // namespace

OutputLock::OutputLock(const QString& outputName)
    : m_path(outputName + ".tmp"),
      m_workingPath(QString::fromStdString(nclWriter::workingPathOf(outputName.toStdString())))
{
}

OutputLock::~OutputLock()
{
    release();
}

OutputLock* OutputLock::current()
{
    return s_current;
}

OutputLock::Result OutputLock::acquire(const Options& options, void (*onWait)(int waits))
{
    const QByteArray path = QFile::encodeName(m_path);
    m_waits = 0;
    m_takenOver.clear();
    m_renewMilliseconds = options.renewMilliseconds;
    catchEndingSignals();
    prepareSignalledLock(path, QFile::encodeName(m_workingPath), m_path.left(m_path.size() - 4));
    const QByteArray fresh = freshName(path);
    for (;;) {
        int fd = recordedFile(fresh);
        if (fd >= 0)
            fd = placeLock(fd, fresh, path);
        if (fd >= 0) {
            if (hold(fd))
                return Result::Acquired;
            continue;
        }
        if (errno != EEXIST) {
            m_errno = errno;
            return Result::CannotCreate;
        }
        if (takeOverFromGoneHolder(path))
            return Result::Acquired;
        QLogger::getInstance()->printInfo("wait for .nc.tmp", __FILE_NAME__, "main", __LINE__);
        if (m_waits == 0)
            sayWaiting(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(options.pollMilliseconds));
        ++m_waits;
        if (onWait)
            onWait(m_waits);
        if (m_waits > options.maxWaits)
            return Result::TimedOut;
    }
}

bool OutputLock::hold(int fd)
{
    // The descriptor stays open while the lock is held: the file's inode
    // cannot be reused by a new file while it is open, so the device and
    // inode identify this run's lock file for certain.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    m_device = st.st_dev;
    m_inode = st.st_ino;
    s_signalled.device = st.st_dev;
    s_signalled.inode = st.st_ino;
    s_lockHeld = 1;
    m_fd = fd;
    m_held = true;
    s_current = this;
    // A run that fails lets go of its lock as the lock goes out of scope;
    // code that ends the process by exit() (the index library out of
    // memory, ecCodes failing a check of its own) releases it here.
    static const bool atExit = std::atexit(releaseCurrentLock) == 0;
    (void)atExit;
    // The renewing thread has started before the run goes on: a thread
    // half way through its start may hold a lock of the allocator, which a
    // process the run forks (to check a netCDF header) would inherit held.
    std::unique_lock<std::mutex> guard(m_leaseMutex);
    m_leaseEnds = false;
    m_leaseStarted = false;
    m_lease = std::thread([this] { renewLease(); });
    m_leaseWake.wait(guard, [this] { return m_leaseStarted; });
    return true;
}

void OutputLock::renewLease()
{
    std::unique_lock<std::mutex> guard(m_leaseMutex);
    m_leaseStarted = true;
    m_leaseWake.notify_all();
    while (!m_leaseWake.wait_for(guard, std::chrono::milliseconds(m_renewMilliseconds), [this] { return m_leaseEnds; }))
        ::futimens(m_fd, nullptr);
}

// The lock at `path` records a holder that no longer runs: it is replaced by
// this run's own in one rename, so that the name is never free for a third
// run to take meanwhile. Two runs finding the same gone holder cannot both
// replace it: the one that gets the file lock of the old lock file does.
bool OutputLock::takeOverFromGoneHolder(const QByteArray& path)
{
    const int old = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (old < 0)
        return false;
    struct stat held {}, now {};
    const std::optional<LockHolder> holder = recordedHolder(old);
    std::optional<QString> why;
    if (holder && ::fstat(old, &held) == 0)
        why = holderGone(*holder, held.st_mtime, ::time(nullptr));
    // A holder still running keeps its file lock, whatever its record says
    // (another process namespace may show it under another id).
    if (!why || (::flock(old, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ||
        ::stat(path.constData(), &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino) {
        ::close(old);
        return false;
    }
    const QByteArray fresh = freshName(path);
    const int fd = recordedFile(fresh);
    bool taken = false;
    if (fd >= 0) {
        taken = ::rename(fresh.constData(), path.constData()) == 0 && hold(fd);
        if (!taken) {
            ::unlink(fresh.constData());
            ::close(fd);
        }
    }
    ::close(old);
    if (!taken)
        return false;
    m_takenOver = QString("the lock %1 is taken over from process %2 on %3: %4")
                      .arg(m_path)
                      .arg(holder->pid)
                      .arg(QString::fromLocal8Bit(holder->host), *why);
    QLogger::getInstance()->printInfo(m_takenOver, __FILE_NAME__, "main", __LINE__);
    std::fprintf(stderr, "%s\n", m_takenOver.toLocal8Bit().constData());
    std::fflush(stderr);
    return true;
}

void OutputLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    {
        std::lock_guard<std::mutex> guard(m_leaseMutex);
        m_leaseEnds = true;
    }
    m_leaseWake.notify_all();
    if (m_lease.joinable())
        m_lease.join();
    // The working file is this run's while it holds the lock: a failure
    // leaves it partly written, an installed output has taken it away.
    ::unlink(QFile::encodeName(m_workingPath).constData());
    // Only the lock file this run created is removed: if it was replaced in
    // the meantime, the new one belongs to someone else.
    struct stat st {};
    const QByteArray path = QFile::encodeName(m_path);
    if (::stat(path.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(path.constData());
    s_lockHeld = 0;
    ::close(m_fd);
    m_fd = -1;
    if (s_current == this)
        s_current = nullptr;
}
