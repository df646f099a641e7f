#include "NetFrame.h"

#include <cjson/cJSON.h>
#include <memory>

namespace netlink {

QByteArray frame(int id, const QByteArray& body, quint32 seq)
{
    return QByteArray::number(id) + ':' + QByteArray::number(body.size()) + ':' +
           (seq ? QByteArray::number(seq) : QByteArray("..")) + '!' + body;
}

Framed unframe(const QByteArray& framed)
{
    Framed f;
    const int end = framed.indexOf('!');
    if (end < 0 || end > 32)
        return f;
    const QList<QByteArray> parts = framed.left(end).split(':');
    if (parts.size() != 3)
        return f;
    bool idOk = false, sizeOk = false, seqOk = true;
    f.id = parts[0].toInt(&idOk);
    const int size = parts[1].toInt(&sizeOk);
    if (parts[2] != "..")
        f.seq = parts[2].toUInt(&seqOk);
    if (!idOk || !sizeOk || !seqOk || size != framed.size() - end - 1)
        return f;
    f.body = framed.mid(end + 1);
    f.ok = true;
    return f;
}

QByteArray withSequence(const QByteArray& framed, quint32 seq)
{
    const Framed f = unframe(framed);
    return f.ok ? frame(f.id, f.body, seq) : framed;
}

namespace {
const QByteArray kSep("\r\n\r\n");

Received::Kind controlKind(const QByteArray& head)
{
    const QByteArray first = head.left(head.indexOf("\r\n") < 0 ? head.size() : head.indexOf("\r\n"));
    if (first.contains("/back/"))
        return Received::Ack;
    if (first.contains("/heart/"))
        return Received::Heart;
    if (first.contains("/reline/"))
        return Received::Reline;
    return Received::Reply;
}

Received reply(const QByteArray& head, const QByteArray& body)
{
    Received r;
    r.kind = Received::Reply;
    r.body = body;
    for (const QByteArray& line : head.split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        if (!l.contains("SessionId"))
            continue;
        const QList<QByteArray> parts = l.split(':');
        if (parts.size() != 2)
            continue;
        bool ok = false;
        const int id = parts[1].trimmed().toInt(&ok);
        if (ok)
            r.session = id;
    }
    if (r.session < 0) {
        r.kind = Received::Ignored;
        r.body.clear();
    }
    return r;
}

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

Json parseResult(const QByteArray& body, cJSON** result)
{
    Json root(cJSON_ParseWithLength(body.constData(), size_t(body.size())), &cJSON_Delete);
    *result = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "result") : nullptr;
    if (*result && !cJSON_IsArray(*result))
        *result = nullptr;
    return root;
}

QString text(const cJSON* o, const char* name)
{
    const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, name);
    return cJSON_IsString(v) ? QString::fromUtf8(v->valuestring) : QString();
}

qint64 number(const cJSON* o, const char* name)
{
    const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, name);
    return cJSON_IsNumber(v) ? qint64(v->valuedouble) : 0;
}
} // namespace

QList<Received> parseReceived(const QByteArray& raw)
{
    const int zero = raw.indexOf('\0');
    QByteArray text = zero < 0 ? raw : raw.left(zero);
    QList<Received> out;
    while (!text.isEmpty()) {
        const int sep = text.indexOf(kSep);
        if (sep < 0)
            break;
        const QByteArray head = text.left(sep);
        const Received::Kind k = controlKind(head);
        if (k != Received::Reply) {
            Received r;
            r.kind = k;
            if (k == Received::Ack || k == Received::Heart)
                for (const QByteArray& line : head.split('\n')) {
                    const QByteArray l = line.trimmed();
                    if (!l.startsWith("Seq:"))
                        continue;
                    r.numbered = true;
                    bool ok = false;
                    const quint32 seq = l.mid(4).trimmed().toUInt(&ok);
                    if (k == Received::Ack && ok && seq > 0)
                        r.seq = seq;
                }
            out.append(r);
            text = text.mid(sep + kSep.size());
            continue;
        }
        const QByteArray body = text.mid(sep + kSep.size());
        if (!body.contains(kSep))
            out.append(reply(head, body));
        break;
    }
    return out;
}

QStringList productNames(const QByteArray& body, bool* ok)
{
    cJSON* result = nullptr;
    const Json root = parseResult(body, &result);
    if (ok)
        *ok = result != nullptr;
    QStringList names;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, result)
    {
        const QString n = text(item, "product_name");
        if (!n.isEmpty())
            names.append(n);
    }
    return names;
}

QList<RemindRow> remindList(const QByteArray& body, bool* ok)
{
    cJSON* result = nullptr;
    const Json root = parseResult(body, &result);
    if (ok)
        *ok = result != nullptr;
    QList<RemindRow> rows;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, result)
    {
        if (!cJSON_IsObject(item))
            continue;
        RemindRow r;
        r.operatorId = text(item, "operator");
        r.name = text(item, "reminder_name");
        r.createUtc = number(item, "create_utc");
        r.notifyUtc = number(item, "notify_utc");
        r.duration = number(item, "duration");
        rows.append(r);
    }
    return rows;
}

} // namespace netlink
