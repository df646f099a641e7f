#include "ServiceNotify.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QtDebug>
#include <atomic>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace servicenotify {
namespace {
struct State {
    QMutex lock;
    bool loaded = false;
    QByteArray path;  // "" when disabled; leading '@' is the abstract namespace
    qint64 intervalMs = 0;
    int fd = -1;
    QElapsedTimer sinceLastPing;
    bool warned = false;
};
State& st()
{
    static State s;
    return s;
}

void loadLocked(State& s)
{
    if (s.loaded)
        return;
    s.loaded = true;
    s.path = qgetenv("NOTIFY_SOCKET");
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    bool ok = false;
    const qint64 usec = qgetenv("WATCHDOG_USEC").toLongLong(&ok);
    // A watchdog meant for another process (a parent that exec'd us) is not ours.
    const bool ours = pid.isEmpty() || pid.toLongLong() == qint64(getpid());
    s.intervalMs = (ok && usec > 0 && ours) ? std::max<qint64>(1, usec / 4000) : 0;
}

bool sendLocked(State& s, const QByteArray& msg)
{
    loadLocked(s);
    if (s.path.isEmpty())
        return false;
    if (s.fd < 0)
        s.fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s.fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (size_t(s.path.size()) >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, s.path.constData(), size_t(s.path.size()));
    if (addr.sun_path[0] == '@')
        addr.sun_path[0] = '\0';
    const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(s.path.size()));
    const bool sent = ::sendto(s.fd, msg.constData(), size_t(msg.size()), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&addr), len) == msg.size();
    if (!sent && !s.warned) {
        s.warned = true;
        qWarning() << "the service manager's socket" << s.path << "does not take notifications:" << strerror(errno);
    }
    return sent;
}
} // namespace

bool enabled()
{
    QMutexLocker l(&st().lock);
    loadLocked(st());
    return !st().path.isEmpty();
}

qint64 watchdogIntervalMs()
{
    QMutexLocker l(&st().lock);
    loadLocked(st());
    return st().intervalMs;
}

bool send(const QByteArray& message)
{
    QMutexLocker l(&st().lock);
    return sendLocked(st(), message);
}

void ready(const QString& text) { send("READY=1\nSTATUS=" + text.toUtf8()); }
void status(const QString& text) { send("STATUS=" + text.toUtf8()); }
void stopping() { send("STOPPING=1"); }

void watchdogTick()
{
    State& s = st();
    QMutexLocker l(&s.lock);
    loadLocked(s);
    if (s.intervalMs <= 0 || s.path.isEmpty())
        return;
    if (s.sinceLastPing.isValid() && s.sinceLastPing.elapsed() < s.intervalMs)
        return;
    s.sinceLastPing.start();
    sendLocked(s, "WATCHDOG=1");
}

void reset()
{
    QMutexLocker l(&st().lock);
    State& s = st();
    if (s.fd >= 0)
        ::close(s.fd);
    s.fd = -1;
    s.loaded = false;
    s.warned = false;
    s.sinceLastPing.invalidate();
}

} // namespace servicenotify
