#pragma once
// The service link's wire format. Station to client: "<id>:<bytes>:<seq>!"
// and the body (UTF-8, no terminator); <seq> is the message's sequence
// number, the same when it is sent again, or ".." for none. Client to
// station: a head, "\r\n\r\n", and a body; the head's first line says what
// it is. A client that reads numbers says so with a head line "Seq:" in its
// heartbeat or acknowledgement; until then a connection gets ".." (the
// format of older clients). An acknowledgement names the message it
// acknowledges with "Seq:<seq>"; one without it acknowledges whatever is on
// the wire.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace netlink {

constexpr int kMaxMessageId = 20;
// One read of the socket: the text stays terminated inside 65 535 bytes.
constexpr int kReadChunk = 65534;

// seq 0: no sequence number ("..").
QByteArray frame(int id, const QByteArray& body, quint32 seq = 0);
// The same message under a sequence number.
QByteArray withSequence(const QByteArray& framed, quint32 seq);

struct Framed {
    bool ok = false;
    int id = -1;
    quint32 seq = 0;  // 0: none
    QByteArray body;
};
// One whole station frame, as the client reads it.
Framed unframe(const QByteArray& framed);

struct Received {
    enum Kind { Ack, Heart, Reline, Reply, Ignored };
    Kind kind = Ignored;
    int session = -1;   // Reply: the message id the client answers
    qint64 seq = -1;    // Ack: the sequence number it names, -1 for none
    bool numbered = false;  // Heart, Ack: the client reads numbered frames
    QByteArray body;
};

// One received text, taken up to its first zero byte. Control texts (ack,
// heartbeat, reline) have no body, so several of them that arrive together
// are taken one by one; what follows them must be exactly one head and one
// body, anything else is ignored.
QList<Received> parseReceived(const QByteArray& text);

// Reply 14: the "product_name" of each object of the "result" array.
QStringList productNames(const QByteArray& body, bool* ok = nullptr);

struct RemindRow {
    QString operatorId, name;
    qint64 createUtc = 0, notifyUtc = 0, duration = 0;
};
// Reply 17: the reminders of the "result" array.
QList<RemindRow> remindList(const QByteArray& body, bool* ok = nullptr);

} // namespace netlink
