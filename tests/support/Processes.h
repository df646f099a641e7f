#pragma once
// Header-only helpers the tests and the benchmarks share: a free loopback
// port and the network client a station started in a directory.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>

// A port nobody listens on just now (the station or a broker takes it next).
inline quint16 freeLoopbackPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// The process ids of network clients whose working directory is dir.
inline QList<qint64> networkClientsIn(const QString& dir)
{
    QList<qint64> pids;
    const QString want = QFileInfo(dir).canonicalFilePath();
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmd("/proc/" + pid + "/cmdline");
        if (pid.toLongLong() > 0 && cmd.open(QIODevice::ReadOnly) && cmd.readAll().contains("runNetClient.py") &&
            QFileInfo("/proc/" + pid + "/cwd").canonicalFilePath() == want)
            pids << pid.toLongLong();
    }
    return pids;
}
