#pragma once
// Network namespaces a test makes for itself (root only): hosts joined by
// veth pairs, programs run inside them, and everything removed afterwards.
// Nothing here touches the host's own interfaces.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class NetLab {
public:
    NetLab();
    ~NetLab();
    // False (with why()) when namespaces cannot be made here: not root, no ip.
    bool ok() const { return m_ok; }
    QString why() const { return m_why; }

    // A new namespace; the name is unique to this process.
    QString host(const QString& tag);
    // A veth pair between two namespaces, both ends up, with optional addresses ("10.0.0.1/24").
    bool link(const QString& nsA, const QString& ifA, const QString& addrA, const QString& nsB, const QString& ifB,
              const QString& addrB);
    // Runs a command inside a namespace and waits; returns its exit code (-1 on failure).
    int run(const QString& ns, const QStringList& command, QByteArray* output = nullptr, int timeoutMs = 30000);
    // Starts a program inside a namespace with extra environment; the lab stops it at the end.
    QProcess* start(const QString& ns, const QString& program, const QStringList& args,
                    const QStringList& env = {}, const QString& workDir = {});
    // Packets an interface of a namespace has sent.
    quint64 txPackets(const QString& ns, const QString& iface);

private:
    bool m_ok = false;
    QString m_why;
    QStringList m_namespaces;
    std::vector<std::unique_ptr<QProcess>> m_procs;
};
