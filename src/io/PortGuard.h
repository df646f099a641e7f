#pragma once
// The station's side of station-guard: the separate process that writes the
// board's last word when the station ends without closing the port. Used by
// the IO thread only.
#include <QString>
#include <sys/types.h>

class PortGuard {
public:
    PortGuard() = default;
    PortGuard(const PortGuard&) = delete;
    PortGuard& operator=(const PortGuard&) = delete;
    ~PortGuard() { release(); }

    // Where the guard program is: STATION_GUARD, else beside this program,
    // else the packaged one. Empty when none is there.
    static QString program();

    // Starts the guard on a duplicate of portFd; false (why set) when it cannot.
    bool start(int portFd, const QString& portName, const QString& logFile, QString* why);
    // Names the word the guard writes if the station ends; sent only when it changed.
    void tell(int word);
    // The port is closed in order: the guard ends without writing, and is reaped.
    void release();
    // The station ends, its last word unconfirmed: the link is closed without
    // the orderly close, so the guard writes and confirms it (not waited for).
    void abandon();
    // False once the guard has ended by itself (it is reaped then).
    bool alive();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_link = -1;
    int m_told = -1;
};
