#include "app/outputlock.h"

#include "logging/qlogger.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

OutputLock* s_current = nullptr;

// What the signal handler needs to remove the run's own lock, set up before
// the lock is taken: the handler may only use what is already there.
struct SignalledLock {
    char path[PATH_MAX + 1] = {};
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

void writeAll(const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, length);
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
    if (s_lockHeld) {
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
            writeAll(kStart, sizeof kStart - 1);
            writeAll(number, k);
            writeAll(s_signalled.said, s_signalled.saidLength);
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

// Sets up what the handler says and removes for the lock at `path`, before
// the lock exists.
void prepareSignalledLock(const QByteArray& path, const QString& outputName)
{
    s_lockHeld = 0;
    const size_t length = std::min<size_t>(static_cast<size_t>(path.size()), PATH_MAX);
    std::memcpy(s_signalled.path, path.constData(), length);
    s_signalled.path[length] = '\0';
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

}  // namespace

OutputLock::OutputLock(const QString& outputName) : m_path(outputName + ".tmp") {}

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
    catchEndingSignals();
    prepareSignalledLock(path, m_path.left(m_path.size() - 4));
    for (;;) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // The descriptor stays open while the lock is held: the file's
            // inode cannot be reused by a new file while it is open, so the
            // device and inode identify this run's lock file for certain.
            struct stat st {};
            if (::fstat(fd, &st) == 0) {
                m_device = st.st_dev;
                m_inode = st.st_ino;
                s_signalled.device = st.st_dev;
                s_signalled.inode = st.st_ino;
                s_lockHeld = 1;
            }
            m_fd = fd;
            m_held = true;
            s_current = this;
            // A run that fails lets go of its lock as the lock goes out of
            // scope; code that ends the process by exit() (the index library
            // out of memory, ecCodes failing a check of its own) releases
            // it here.
            static const bool atExit = std::atexit(releaseCurrentLock) == 0;
            (void)atExit;
            return Result::Acquired;
        }
        if (errno != EEXIST) {
            m_errno = errno;
            return Result::CannotCreate;
        }
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

void OutputLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    // Only the file this run created is removed: if it was replaced in the
    // meantime, the new one belongs to someone else.
    struct stat st {};
    const QByteArray path = QFile::encodeName(m_path);
    if (::stat(path.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(path.constData());
    handOver();
}

void OutputLock::handOver()
{
    m_held = false;
    // Gone, or renamed onto the output: a signal has nothing left to remove.
    s_lockHeld = 0;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (s_current == this)
        s_current = nullptr;
}
