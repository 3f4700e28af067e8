#include "app/lockholder.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <csignal>
#include <limits.h>
#include <unistd.h>

namespace {

constexpr char kTitle[] = "kelvane output lock";

QByteArray hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "unknown";
    return QByteArray(name);
}

QByteArray bootId()
{
    QFile f("/proc/sys/kernel/random/boot_id");
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll().trimmed();
}

}  // namespace

std::optional<SeenProcess> seenProcess(long long pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = f.readAll();
    // The command name may hold spaces and parentheses: fields are counted
    // after its last ')'. The state is field 3, the first after it; the
    // start time field 22, the 20th.
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    bool ok = false;
    SeenProcess seen;
    seen.start = fields[19].toULongLong(&ok);
    // A zombie (Z) or a dead process (X) has ended; only its parent has not
    // yet collected its status.
    seen.ended = fields[0] == "Z" || fields[0] == "X";
    return ok ? std::optional<SeenProcess>(seen) : std::nullopt;
}

LockHolder LockHolder::self()
{
    // Read once: a run asks at every poll of a lock it waits for. (A child
    // the run forks never takes a lock.)
    static const LockHolder me = [] {
        LockHolder h;
        h.host = hostName();
        h.pid = ::getpid();
        const std::optional<SeenProcess> seen = seenProcess(h.pid);
        h.start = seen ? seen->start : 0;
        h.boot = bootId();
        return h;
    }();
    return me;
}

QByteArray LockHolder::record() const
{
    return QByteArray(kTitle) + "\nhost " + host + "\npid " + QByteArray::number(pid) + "\nstart " +
           QByteArray::number(start) + "\nboot " + boot + "\n";
}

std::optional<LockHolder> LockHolder::parse(const QByteArray& bytes)
{
    // Complete only with its last line ended.
    if (!bytes.startsWith(QByteArray(kTitle) + "\n") || !bytes.endsWith('\n'))
        return std::nullopt;
    LockHolder h;
    bool pid = false, start = false;
    for (const QByteArray& line : bytes.split('\n')) {
        const int space = line.indexOf(' ');
        const QByteArray key = line.left(space), value = space < 0 ? QByteArray() : line.mid(space + 1);
        if (key == "host")
            h.host = value;
        else if (key == "pid")
            h.pid = value.toLongLong(&pid);
        else if (key == "start")
            h.start = value.toULongLong(&start);
        else if (key == "boot")
            h.boot = value;
    }
    if (h.host.isEmpty() || !pid || h.pid <= 0 || !start)
        return std::nullopt;
    return h;
}

std::optional<QString> holderGone(const LockHolder& holder, std::time_t renewed, std::time_t now)
{
    const LockHolder me = LockHolder::self();
    if (holder.host != me.host) {
        const long long age = static_cast<long long>(now - renewed);
        if (age <= kLeaseExpirySeconds)
            return std::nullopt;
        return QString("its lease has not been renewed for %1 s (a holder renews it every %2 s)")
            .arg(age)
            .arg(kLeaseRenewalSeconds);
    }
    if (!holder.boot.isEmpty() && !me.boot.isEmpty() && holder.boot != me.boot)
        return QString("the machine has restarted since");
    if (holder.pid > INT_MAX || (::kill(static_cast<pid_t>(holder.pid), 0) != 0 && errno == ESRCH))
        return QString("no process has that id");
    const std::optional<SeenProcess> seen = seenProcess(holder.pid);
    if (seen && seen->start != holder.start)
        return QString("the process of that id is another one");
    if (seen && seen->ended)
        return QString("the process has ended; its parent has not yet collected it");
    return std::nullopt;
}
