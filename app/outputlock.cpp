#include "app/outputlock.h"

#include "logging/qlogger.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

OutputLock* s_current = nullptr;

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
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (s_current == this)
        s_current = nullptr;
}
