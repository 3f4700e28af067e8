// The lock that serialises runs writing one output file: the file named like
// the output with ".tmp" appended. A run waits while it exists, then creates
// it with exclusive creation, so two runs can never both hold it. The lock
// file records its holder (see lockholder.h); a lock whose holder no longer
// runs is taken over at once instead of being waited for.
#pragma once

#include "app/lockholder.h"

#include <QString>

#include <condition_variable>
#include <mutex>
#include <sys/types.h>
#include <thread>

class OutputLock {
public:
    enum class Result { Acquired, TimedOut, CannotCreate };

    struct Options {
        int pollMilliseconds = 1000;  // pause between two attempts
        int maxWaits = 300;           // give up once the wait count exceeds this
        int renewMilliseconds = kLeaseRenewalSeconds * 1000;  // how often the held lock is renewed
    };

    explicit OutputLock(const QString& outputName);
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Waits while another run holds the lock and then takes it. Each wait
    // logs "wait for .nc.tmp" and calls `onWait` if given. A lock whose
    // recorded holder no longer runs is taken over without waiting. While
    // held, the lock file (and the working file the writer makes the new
    // output in) goes with this object (a failed run unwinding past it), at
    // exit, or when SIGTERM, SIGINT, SIGHUP or SIGPIPE ends the process: the
    // handler removes them (only if the lock still is this run's file),
    // says so on standard error and ends the process by that signal.
    Result acquire(const Options& options, void (*onWait)(int waits) = nullptr);
    Result acquire() { return acquire(Options()); }

    // Removes the working file, if any is left, and the lock file if this
    // run created it and it is still that file.
    void release();

    bool held() const { return m_held; }
    int waits() const { return m_waits; }
    const QString& path() const { return m_path; }
    // Where the writer makes the new output before renaming it onto the
    // output name; it belongs to whoever holds the lock.
    const QString& workingPath() const { return m_workingPath; }
    // errno of a failed creation.
    int error() const { return m_errno; }
    // Why the lock was taken over from its recorded holder; empty when it
    // was free.
    const QString& takenOver() const { return m_takenOver; }

    // The lock the run currently holds, or null.
    static OutputLock* current();

private:
    bool hold(int fd);
    bool takeOverFromGoneHolder(const QByteArray& path);
    void renewLease();

    QString m_path;
    QString m_workingPath;
    bool m_held = false;
    int m_fd = -1;
    int m_waits = 0;
    int m_errno = 0;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QString m_takenOver;

    // The holder renews the lock's time stamp while it holds it.
    std::thread m_lease;
    std::mutex m_leaseMutex;
    std::condition_variable m_leaseWake;
    bool m_leaseEnds = false;
    bool m_leaseStarted = false;
    int m_renewMilliseconds = kLeaseRenewalSeconds * 1000;
};
