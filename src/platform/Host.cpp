#include "Host.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QtDebug>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define STATION_HAVE_IOPL 1
#endif

namespace platform {

Host& Host::instance()
{
    static Host host(qgetenv("STATION_PLATFORM") == "panel");
    return host;
}

Host::Host(bool panel) : m_panel(panel)
{
    // "sudo -n /usr/lib/station/bin/station-host": the installed station runs
    // as its own user and does what needs root only through this helper.
    m_helper = QString::fromLocal8Bit(qgetenv("STATION_HOST_HELPER")).split(' ', Qt::SkipEmptyParts);
}

void Host::journal(const QString& action, const QStringList& args)
{
    QMutexLocker lock(&m_mutex);
    QFile f(QDir::current().filePath(journalName()));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        qWarning() << "host journal cannot be written:" << f.fileName() << f.errorString();
        return;
    }
    QTextStream out(&f);
    out << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << ' ' << action;
    for (const QString& a : args)
        out << ' ' << a;
    out << '\n';
}

bool Host::act(const QString& action, const QStringList& args,
               const QString& program, const QStringList& programArgs,
               QString* output, int timeoutMs)
{
    static const QStringList diskActions{"mount", "umount", "blkid"};
    bool diskReal = false;
    if (!m_panel && diskActions.contains(action)) {
        QMutexLocker lock(&m_mutex);
        diskReal = m_diskReal;
    }
    if (!m_panel && !diskReal) {
        journal(action, args);
        QMutexLocker lock(&m_mutex);
        return !m_failing.contains(action);
    }
    static const QStringList privileged{"reboot", "poweroff", "mount", "umount", "hwclock", "set-time", "sync"};
    QString prog = program;
    QStringList progArgs = programArgs;
    if (m_panel && !m_helper.isEmpty() && privileged.contains(action)) {
        prog = m_helper.first();
        progArgs = m_helper.mid(1) + QStringList{action} + args;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(prog, progArgs);
    if (!p.waitForStarted(5000)) {
        qWarning() << "host action" << action << "could not start" << program << p.errorString();
        return false;
    }
    if (!p.waitForFinished(timeoutMs)) {
        qWarning() << "host action" << action << "did not finish in" << timeoutMs << "ms";
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    const QByteArray out = p.readAll();
    if (output)
        *output = QString::fromLocal8Bit(out);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "host action" << action << args << "failed, exit" << p.exitCode() << out.left(500);
        return false;
    }
    return true;
}

void Host::simulateFailure(const QString& action, bool fail)
{
    QMutexLocker lock(&m_mutex);
    m_failing.removeAll(action);
    if (fail)
        m_failing << action;
}

bool Host::reboot() { return act("reboot", {}, "reboot", {}); }
bool Host::powerOff() { return act("poweroff", {}, "init", {"0"}); }
bool Host::mount(const QString& device, const QString& dir)
{
    return act("mount", {device, dir}, "mount", {device, dir});
}
bool Host::umount(const QString& dir) { return act("umount", {dir}, "umount", {dir}); }
bool Host::sync() { return act("sync", {}, "sync", {}); }

QString Host::blkid(const QStringList& args)
{
    QStringList real = args;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_panel && m_diskReal && args.isEmpty())
            real = m_blkidDevices;
    }
    QString out;
    // blkid exits 2 when it found nothing: no output, not a failure of ours.
    if (!act("blkid", args, "blkid", real, &out))
        return {};
    return out;
}

void Host::setDiskReal(bool real, const QStringList& blkidDevices)
{
    QMutexLocker lock(&m_mutex);
    m_diskReal = real;
    m_blkidDevices = blkidDevices;
}

bool Host::hwclockSysToHc() { return act("hwclock", {"--systohc"}, "hwclock", {"--systohc"}); }

bool Host::setTime(const QDateTime& t)
{
    const QString iso = t.toString(Qt::ISODate);
    return act("set-time", {iso}, "date", {"-s", t.toString("yyyy-MM-dd hh:mm:ss")});
}

bool Host::runTsc() { return act("run-tsc", {}, "./tsc", {}, nullptr, 10 * 60 * 1000); }
bool Host::runUpdate() { return act("run-update", {}, "./update.sh", {}, nullptr, 10 * 60 * 1000); }

bool Host::ping(const QString& address, QString* output)
{
    return act("ping", {address}, "ping", {address, "-w", "1"}, output, 5000);
}

void Host::skipped(const QString& action, const QStringList& args)
{
    if (m_panel)
        qInfo() << "host action not taken:" << action << args;
    else
        journal(action, args);
}

namespace {
QStringList gigeInterfaces()
{
    return qEnvironmentVariable("STATION_GIGE_IFACES").split(',', Qt::SkipEmptyParts);
}
} // namespace

bool Host::gigeAllowed(const QString& name) const { return m_panel || gigeInterfaces().contains(name.trimmed()); }
bool Host::gigeAnyAllowed() const { return m_panel || !gigeInterfaces().isEmpty(); }

bool Host::iopl(int level)
{
    if (!m_panel) {
        journal("iopl", {QString::number(level)});
        return true;
    }
#ifdef STATION_HAVE_IOPL
    if (::iopl(level) != 0) {
        qWarning() << "iopl" << level << "refused";
        return false;
    }
    return true;
#else
    qWarning() << "iopl not available on this processor";
    return false;
#endif
}

} // namespace platform
