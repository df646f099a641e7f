#pragma once
// The service manager's notification socket (NOTIFY_SOCKET): READY once the
// station is up, STATUS lines, and watchdog pings from the cycle's tick so
// that a hung cycle is killed and restarted. Without NOTIFY_SOCKET every call
// does nothing. The protocol is one datagram per message; no library needed.
#include <QByteArray>
#include <QString>

namespace servicenotify {

// Whether a service manager listens (NOTIFY_SOCKET set, for this process).
bool enabled();
// The ping interval: a quarter of WATCHDOG_USEC, 0 when no watchdog is asked for.
qint64 watchdogIntervalMs();

void ready(const QString& status);
void status(const QString& status);
void stopping();
// Called on every tick; sends WATCHDOG=1 at most once per interval.
void watchdogTick();

// Sends one raw message; false when it could not be sent.
bool send(const QByteArray& message);
// Tests: read the environment again.
void reset();

} // namespace servicenotify
