#include "Termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QtDebug>
#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int sigFd[2] = {-1, -1};
std::atomic<bool> terminating{false};

void onSignal(int)
{
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(sigFd[0], &b, 1);
}
} // namespace

bool stationTerminating() { return terminating; }

void installTerminationHandler(std::function<void()> onTerminate)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sigFd) != 0) {
        qWarning() << "no termination handler: socketpair failed";
        return;
    }
    auto* notifier = new QSocketNotifier(sigFd[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, onTerminate] {
        char b;
        [[maybe_unused]] ssize_t n = ::read(sigFd[1], &b, 1);
        if (terminating.exchange(true))
            return;
        notifier->setEnabled(false);
        qWarning() << "termination requested; closing the databases";
        if (onTerminate)
            onTerminate();
        QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
