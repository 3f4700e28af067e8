// Who holds an output lock, as the lock file records it, and whether that
// holder still runs.
//
// The lock file holds one record of a few lines:
//
//     kelvane output lock
//     host node17
//     pid 81234
//     start 5022918
//     boot 0f6c4d1e-...
//
// `start` is the process's start time in clock ticks since boot, so that a
// later process given the same id is told apart; `boot` is the kernel's boot
// id, so that a holder from before a restart is known gone. While it holds
// the lock the holder renews the file's time stamp every few seconds (its
// lease), which is all a run on another host can check.
#pragma once

#include <QByteArray>
#include <QString>

#include <ctime>
#include <optional>

struct LockHolder {
    QByteArray host;
    long long pid = 0;
    unsigned long long start = 0;
    QByteArray boot;

    // This process.
    static LockHolder self();
    // The record as the lock file holds it.
    QByteArray record() const;
    // The holder a lock file's bytes record, or nothing: a lock of an older
    // version (empty) or one whose record is not written yet.
    static std::optional<LockHolder> parse(const QByteArray& bytes);
};

// Seconds between two renewals of a held lock's time stamp (the lock's
// default).
constexpr int kLeaseRenewalSeconds = 5;
// A lock of another host whose time stamp is older than this has lost its
// holder: twelve renewals missed in a row.
constexpr int kLeaseExpirySeconds = 60;

// What /proc shows of process `pid`: its start time (clock ticks since
// boot) and whether it has ended; nothing if no such process is to be seen.
struct SeenProcess {
    unsigned long long start = 0;
    bool ended = false;
};
std::optional<SeenProcess> seenProcess(long long pid);

// Why the holder recorded in a lock no longer holds it, or nothing while it
// may still. `renewed` is the lock file's time stamp.
std::optional<QString> holderGone(const LockHolder& holder, std::time_t renewed, std::time_t now);
