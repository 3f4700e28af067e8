// The lock that serialises runs writing one output file: the file named like
// the output with ".tmp" appended. A run waits while it exists, then creates
// it with exclusive creation, so two runs can never both hold it.
#pragma once

#include <QString>

#include <sys/types.h>

class OutputLock {
public:
    enum class Result { Acquired, TimedOut, CannotCreate };

    struct Options {
        int pollMilliseconds = 1000;  // pause between two attempts
        int maxWaits = 300;           // give up once the wait count exceeds this
    };

    explicit OutputLock(const QString& outputName);
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Waits while another run holds the lock and then takes it. Each wait
    // logs "wait for .nc.tmp" and calls `onWait` if given. While held, the
    // lock file goes with this object (a failed run unwinding past it), at
    // exit, or when SIGTERM, SIGINT, SIGHUP or SIGPIPE ends the process: the
    // handler removes it (only if it still is this run's file), says so on
    // standard error and ends the process by that signal.
    Result acquire(const Options& options, void (*onWait)(int waits) = nullptr);
    Result acquire() { return acquire(Options()); }

    // Removes the lock file if this run created it and it is still that file.
    void release();
    // The writer installed its file by renaming the lock file onto the
    // output, which released the lock; nothing is left to remove.
    void handOver();

    bool held() const { return m_held; }
    int waits() const { return m_waits; }
    const QString& path() const { return m_path; }
    // errno of a failed creation.
    int error() const { return m_errno; }

    // The lock the run currently holds, or null.
    static OutputLock* current();

private:
    QString m_path;
    bool m_held = false;
    int m_fd = -1;
    int m_waits = 0;
    int m_errno = 0;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
