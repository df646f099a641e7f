#include "Termination.h"

#include "WholeScreen.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QtDebug>
#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int sigFd[2] = {-1, -1};
std::atomic<bool> terminating{false};

void onSignal(int s)
{
    const char b = char(s);
    [[maybe_unused]] ssize_t n = ::write(sigFd[0], &b, 1);
}

// For the restart benchmark and its tests only: SIGUSR2 blocks the cycle's
// thread (the GUI thread) for STATION_TEST_FREEZE_MS, as a hang would.
int freezeMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("STATION_TEST_FREEZE_MS", &ok);
    return ok && ms > 0 ? ms : 0;
}
} // namespace

bool stationTerminating() { return terminating; }

void installTerminationHandler(std::function<void()> onTerminate)
{
    // Once per process: a station built again (a test's next station) only brings its own action.
    static std::function<void()> action;
    action = std::move(onTerminate);
    if (sigFd[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sigFd) != 0) {
        qWarning() << "no termination handler: socketpair failed";
        return;
    }
    auto* notifier = new QSocketNotifier(sigFd[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char b = 0;
        [[maybe_unused]] ssize_t n = ::read(sigFd[1], &b, 1);
        if (b == SIGUSR1) {
            dumpGeometry(qEnvironmentVariable("STATION_TEST_GEOMETRY"));
            return;
        }
        if (b == SIGUSR2) {
            qWarning() << "test command: the cycle's thread is blocked for" << freezeMs() << "ms";
            QThread::msleep(freezeMs());
            return;
        }
        if (terminating.exchange(true))
            return;
        notifier->setEnabled(false);
        qWarning() << "termination requested: clamping prohibited, the data saved, then a restart";
        if (action)
            action();
        QCoreApplication::exit(exitstatus::kRestart);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    if (freezeMs() > 0)
        sigaction(SIGUSR2, &sa, nullptr);
    // For tests of the running program only: where its widgets are on the screen.
    if (!qEnvironmentVariableIsEmpty("STATION_TEST_GEOMETRY"))
        sigaction(SIGUSR1, &sa, nullptr);
}
