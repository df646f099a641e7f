#pragma once
// A service link in a test's working directory: the link switched on, its
// port picked by the system, its IPC keys from the test's own directory.
#include "CNT_Net.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QTcpSocket>
#include <QtTest/QTest>
#include <cjson/cJSON.h>
#include <memory>

struct NetRig {
    TestDir dir;
    WizardPara wp;
    std::unique_ptr<CNT_Net> net;

    explicit NetRig(int ackMs = 5000, int heartMs = 60000, int queueLimit = 10000)
    {
        wp.enable_cnt_net = 1;
        wp.cnt_video_source = 0;
        gpWPara = &wp;
        CNT_Net::Options o;
        o.port = 0;
        o.readSwitch = false;
        o.enabled = true;
        o.ackMs = ackMs;
        o.heartMs = heartMs;
        o.queueLimit = queueLimit;
        o.ipcPath = dir.path();
        net = std::make_unique<CNT_Net>(o);
        // The client the station starts finds the link here.
        qputenv("STATION_NET_PORT", QByteArray::number(net->port()));
    }
    ~NetRig()
    {
        net.reset();
        gpWPara = nullptr;
        qunsetenv("STATION_NET_PORT");
    }
    // A peer that plays the client.
    std::unique_ptr<QTcpSocket> peer()
    {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, net->port());
        s->waitForConnected(2000);
        QTest::qWaitFor([&] { return net->isConnected(); }, 2000);
        return s;
    }
};

// The JSON body of a framed message.
inline QByteArray bodyOf(const QByteArray& framed) { return netlink::unframe(framed).body; }

// The frames of what the client read, in order (a partial one at the end left out).
inline QList<netlink::Framed> framesOf(const QByteArray& stream)
{
    QList<netlink::Framed> out;
    int at = 0;
    while (at < stream.size()) {
        const int end = stream.indexOf('!', at);
        if (end < 0)
            break;
        const QList<QByteArray> parts = stream.mid(at, end - at).split(':');
        if (parts.size() != 3)
            break;
        const int size = parts[1].toInt();
        if (end + 1 + size > stream.size())
            break;
        out << netlink::unframe(stream.mid(at, end + 1 + size - at));
        at = end + 1 + size;
    }
    return out;
}

// The stream with every sequence number written as "..", to compare contents.
inline QByteArray unnumbered(const QByteArray& stream)
{
    QByteArray out;
    for (const netlink::Framed& f : framesOf(stream))
        out += netlink::frame(f.id, f.body);
    return out;
}

// The peer says it reads numbered frames, and the station has heard it.
inline bool numbering(QTcpSocket& peer, NetRig& rig)
{
    peer.write("/heart/\r\nSeq: yes\r\n\r\n");
    peer.flush();
    return QTest::qWaitFor([&] { return rig.net->sender().numbered.load(); }, 3000);
}

inline QByteArray ackOf(quint32 seq) { return "/back/\r\nSeq:" + QByteArray::number(seq) + "\r\n\r\n"; }

// The member names of a JSON object, in order.
inline QStringList keysOf(const QByteArray& json, const char* inner = nullptr)
{
    QStringList keys;
    cJSON* root = cJSON_ParseWithLength(json.constData(), size_t(json.size()));
    const cJSON* o = inner ? cJSON_GetObjectItemCaseSensitive(root, inner) : root;
    const cJSON* m = nullptr;
    cJSON_ArrayForEach(m, o) keys << QString::fromUtf8(m->string);
    cJSON_Delete(root);
    return keys;
}
