#include "PortGuard.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QtDebug>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
constexpr int kGuardPortFd = 3;
constexpr int kGuardLinkFd = 4;

bool sendLine(int fd, const QByteArray& line)
{
    // Never blocks and never raises SIGPIPE: a guard that died is found by alive().
    const ssize_t n = ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == line.size();
}
} // namespace

QString PortGuard::program()
{
    QStringList candidates;
    const QString env = qEnvironmentVariable("STATION_GUARD");
    if (!env.isEmpty())
        return QFileInfo(env).isExecutable() ? env : QString();
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + "/station-guard";
    // An installed update may bring only the station: the packaged guard serves it.
    candidates << QStringLiteral(STATION_LIBEXEC_DIR "/station-guard");
    for (const QString& c : candidates)
        if (QFileInfo(c).isExecutable())
            return c;
    return {};
}

bool PortGuard::start(int portFd, const QString& portName, const QString& logFile, QString* why)
{
    release();
    const QString prog = program();
    if (prog.isEmpty()) {
        *why = QStringLiteral("no station-guard program (STATION_GUARD, beside the station, " STATION_LIBEXEC_DIR ")");
        return false;
    }
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        *why = QStringLiteral("socketpair: %1").arg(qt_error_string(errno));
        return false;
    }
    // High copies, so that the child's dup2 onto 3 and 4 cannot overwrite one another.
    const int portCopy = ::fcntl(portFd, F_DUPFD_CLOEXEC, 100);
    const int linkCopy = ::fcntl(sv[1], F_DUPFD_CLOEXEC, 100);
    ::close(sv[1]);
    if (portCopy < 0 || linkCopy < 0) {
        *why = QStringLiteral("dup: %1").arg(qt_error_string(errno));
        for (int fd : {portCopy, linkCopy, sv[0]})
            if (fd >= 0)
                ::close(fd);
        return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, portCopy, kGuardPortFd);
    posix_spawn_file_actions_adddup2(&fa, linkCopy, kGuardLinkFd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The guard starts from the default handlers, with the stop signals blocked
    // until it has its own: a stop at this very moment must not end it unheard.
    sigset_t stops, defaults;
    sigemptyset(&stops);
    sigemptyset(&defaults);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT})
        sigaddset(&stops, s);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT, SIGPIPE, SIGUSR1, SIGUSR2, SIGCHLD})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &stops);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray progB = prog.toLocal8Bit(), portB = QByteArray::number(kGuardPortFd),
                     linkB = QByteArray::number(kGuardLinkFd), logB = logFile.toLocal8Bit(),
                     nameB = portName.toLocal8Bit();
    QList<QByteArray> args{progB, "--port-fd", portB, "--link-fd", linkB, "--port", nameB};
    if (!logB.isEmpty())
        args << "--log" << logB;
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, progB.constData(), &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    ::close(portCopy);
    ::close(linkCopy);
    if (rc != 0) {
        ::close(sv[0]);
        *why = QStringLiteral("%1: %2").arg(prog, qt_error_string(rc));
        return false;
    }
    m_pid = pid;
    m_link = sv[0];
    m_told = -1;
    return true;
}

void PortGuard::tell(int word)
{
    if (m_link < 0 || word < 0 || word == m_told)
        return;
    if (sendLine(m_link, "W " + QByteArray::number(word, 16) + "\n"))
        m_told = word;
}

bool PortGuard::alive()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == 0)
        return true;
    // Reaped, or not ours to wait for any more: if it still runs it must end without writing.
    m_pid = -1;
    if (m_link >= 0) {
        sendLine(m_link, "C\n");
        ::close(m_link);
    }
    m_link = -1;
    return false;
}

void PortGuard::abandon()
{
    if (m_link >= 0)
        ::close(m_link);
    m_link = -1;
    m_pid = -1;  // it outlives us; init reaps it
}

void PortGuard::release()
{
    if (m_link >= 0) {
        // A guard that cannot be told the close is an ordered one is stopped before it sees the end.
        if (!sendLine(m_link, "C\n") && m_pid > 0)
            ::kill(m_pid, SIGKILL);
        ::close(m_link);
        m_link = -1;
    }
    if (m_pid > 0) {
        // It ends at once on the closed link; a guard that does not is not left behind.
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
                m_pid = -1;
                return;
            }
            ::usleep(1000);
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}
