#include "NetLab.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <unistd.h>

NetLab::NetLab()
{
    if (geteuid() != 0) {
        m_why = "network namespaces need root";
        return;
    }
    if (QStandardPaths::findExecutable("ip").isEmpty()) {
        m_why = "no ip command (iproute2)";
        return;
    }
    QProcess p;
    p.start("ip", {"netns", "list"});
    if (!p.waitForFinished(5000) || p.exitCode() != 0) {
        m_why = "ip netns does not work here";
        return;
    }
    m_ok = true;
}

NetLab::~NetLab()
{
    for (auto& p : m_procs) {
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(2000);
            }
        }
    }
    m_procs.clear();
    for (const QString& ns : m_namespaces)
        QProcess::execute("ip", {"netns", "delete", ns});
}

QString NetLab::host(const QString& tag)
{
    const QString name = QStringLiteral("st%1-%2").arg(QCoreApplication::applicationPid()).arg(tag);
    if (QProcess::execute("ip", {"netns", "add", name}) != 0)
        return {};
    m_namespaces << name;
    run(name, {"ip", "link", "set", "lo", "up"});
    return name;
}

bool NetLab::link(const QString& nsA, const QString& ifA, const QString& addrA, const QString& nsB, const QString& ifB,
                  const QString& addrB)
{
    // Made inside A, the far end moved into B: the host's namespace never holds either.
    if (run(nsA, {"ip", "link", "add", ifA, "type", "veth", "peer", "name", ifB, "netns", nsB}) != 0)
        return false;
    for (const auto& [ns, ifc, addr] : {std::tuple{nsA, ifA, addrA}, std::tuple{nsB, ifB, addrB}}) {
        // No IPv6 chatter: only what the programs send counts.
        run(ns, {"sysctl", "-q", "-w", QStringLiteral("net.ipv6.conf.%1.disable_ipv6=1").arg(ifc)});
        if (!addr.isEmpty() && run(ns, {"ip", "addr", "add", addr, "dev", ifc}) != 0)
            return false;
        if (run(ns, {"ip", "link", "set", ifc, "up"}) != 0)
            return false;
    }
    return true;
}

int NetLab::run(const QString& ns, const QStringList& command, QByteArray* output, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("ip", QStringList{"netns", "exec", ns} + command);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QProcess* NetLab::start(const QString& ns, const QString& program, const QStringList& args, const QStringList& env,
                        const QString& workDir)
{
    auto p = std::make_unique<QProcess>();
    if (!workDir.isEmpty())
        p->setWorkingDirectory(workDir);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : env)
        e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p->setProcessEnvironment(e);
    p->start("ip", QStringList{"netns", "exec", ns, program} + args);
    p->waitForStarted(5000);
    m_procs.push_back(std::move(p));
    return m_procs.back().get();
}

quint64 NetLab::txPackets(const QString& ns, const QString& iface)
{
    QByteArray out;
    run(ns, {"cat", QStringLiteral("/sys/class/net/%1/statistics/tx_packets").arg(iface)}, &out);
    return out.trimmed().toULongLong();
}
