#include "CNT_Net.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTimerEvent>
#include <cjson/cJSON.h>
#include "NetLog.h"

#include "Globals.h"
#include "WizardPara.h"

CNT_Net* gpNet = nullptr;


namespace {
const char* kClientScript = "./cnt_net/runNetClient.py";
// How long a new connection waits for the client to say it reads numbers.
constexpr int kHelloMs = 300;
}

// --- sender ----------------------------------------------------------------

CNT_Thread::CNT_Thread(QObject* parent)
    : QObject(parent), m_nextSeq(QRandomGenerator::global()->bounded(1u, 1u << 30))
{
    m_ackTimer.setSingleShot(true);
    connect(&m_ackTimer, &QTimer::timeout, this, &CNT_Thread::timedOut);
}

void CNT_Thread::append(const QByteArray& message)
{
    {
        QMutexLocker l(&m_lock);
        if (m_queue.size() >= limit) {
            // The head may be on the wire; its acknowledgement must find it.
            m_queue.removeAt(m_inFlight && m_queue.size() > 1 ? 1 : 0);
            const quint64 n = ++overflow;
            if (n == 1 || n % 100 == 0)
                NETLOG << "CNT: queue full (" << limit << " messages), " << n << " oldest dropped so far";
        }
        m_queue.append(netlink::withSequence(message, m_nextSeq));
        m_nextSeq = m_nextSeq >= 0xfffffff0u ? 1 : m_nextSeq + 1;
    }
    QMetaObject::invokeMethod(this, &CNT_Thread::run, Qt::QueuedConnection);
}

void CNT_Thread::setSocket(QTcpSocket* s)
{
    QMutexLocker l(&m_lock);
    m_socket = s;
}

void CNT_Thread::clearSocket()
{
    QMutexLocker l(&m_lock);
    m_socket = nullptr;
    // The next client says for itself whether it reads numbers.
    numbered = false;
    // What was on the wire goes again, twice, on the next connection.
    m_inFlight = false;
    m_attempts = 0;
    m_ackTimer.stop();
}

void CNT_Thread::run()
{
    QMutexLocker l(&m_lock);
    if (m_inFlight || !m_socket)
        return;
    while (!m_queue.isEmpty() && m_attempts > 1) {
        m_queue.removeFirst();
        m_attempts = 0;
        const quint64 n = ++unacknowledged;
        NETLOG << "CNT: message sent twice without acknowledgement dropped (" << n << " so far)";
    }
    if (m_queue.isEmpty()) {
        m_attempts = 0;
        return;
    }
    const QByteArray head = numbered ? m_queue.first() : netlink::withSequence(m_queue.first(), 0);
    if (m_attempts > 0)
        ++resent;
    ++sent;
    m_socket->write(head);
    m_socket->flush();
    m_inFlight = true;
    m_ackTimer.start(ackMs);
}

void CNT_Thread::timedOut()
{
    {
        QMutexLocker l(&m_lock);
        m_inFlight = false;
        ++m_attempts;
    }
    run();
}

void CNT_Thread::acknowledged(qint64 seq)
{
    {
        QMutexLocker l(&m_lock);
        if (seq >= 0) {
            // Named: only that message goes, on the wire or not. A late one
            // for a message sent again and already acknowledged must not
            // take the next message with it.
            if (m_queue.isEmpty() || netlink::unframe(m_queue.first()).seq != quint64(seq)) {
                const quint64 n = ++lateAcks;
                if (n <= 10 || n % 100 == 0)
                    NETLOG << "CNT: acknowledgement of message " << seq << " that is no longer on the wire ("
                           << n << " so far)";
                return;
            }
            m_queue.removeFirst();
        } else if (m_inFlight && !m_queue.isEmpty()) {
            // An acknowledgement with nothing on the wire only wakes the sender.
            m_queue.removeFirst();
        }
        m_inFlight = false;
        m_attempts = 0;
        m_ackTimer.stop();
    }
    run();
}

int CNT_Thread::queued() const
{
    QMutexLocker l(&m_lock);
    return int(m_queue.size());
}

QList<QByteArray> CNT_Thread::snapshot() const
{
    QMutexLocker l(&m_lock);
    return m_queue;
}

void CNT_Thread::clear()
{
    QMutexLocker l(&m_lock);
    m_queue.clear();
    m_attempts = 0;
    m_inFlight = false;
}

// --- the link ----------------------------------------------------------------

CNT_Net::Options CNT_Net::defaultOptions()
{
    Options o;
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("STATION_NET_PORT", &ok);
    if (ok && port > 0 && port < 65536)
        o.port = quint16(port);
    return o;
}

CNT_Net::CNT_Net(QObject* parent) : CNT_Net(defaultOptions(), parent) {}

CNT_Net::CNT_Net(const Options& o, QObject* parent) : QTcpServer(parent), m_opt(o)
{
    if (!gpNet)
        gpNet = this;
    construct();
}

CNT_Net::~CNT_Net()
{
    if (m_client) {
        m_client->disconnect(this);
        m_client->terminate();
        if (!m_client->waitForFinished(2000))
            m_client->kill();
        m_client->waitForFinished(1000);
        delete m_client;
    }
    if (m_socket)
        m_socket->disconnect(this);
    CNT_FreeShareMemory();
    if (gpNet == this)
        gpNet = nullptr;
}

void CNT_Net::construct()
{
    QFile dev("/proc/net/dev");
    if (dev.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = dev.readAll().split('\n');
        for (int i = 2; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon <= 0)
                continue;
            const QString name = QString::fromLatin1(lines[i].left(colon).trimmed());
            QFile mac(QStringLiteral("/sys/class/net/%1/address").arg(name));
            m_ifMac[name] = mac.open(QIODevice::ReadOnly) ? QString::fromLatin1(mac.readAll().trimmed()) : QString();
            const QList<QNetworkAddressEntry> entries = QNetworkInterface::interfaceFromName(name).addressEntries();
            m_ifAddr[name] = entries.isEmpty() ? QString() : entries.first().ip().toString();
        }
    }
    m_deviceId = QHostInfo::localHostName();

    bool on = m_opt.enabled;
    if (m_opt.readSwitch) {
        on = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "isopen");
            db.setDatabaseName("PARAM.db");
            if (!QFile::exists("PARAM.db") || !db.open()) {
                NETLOG << "ErrorOpen";
            } else {
                QSqlQuery q(db);
                if (q.exec("select value from sysparam where name='CntNet'") && q.next())
                    on = q.value(0).toString().simplified().section(' ', 0, 0).toInt() != 0;
                db.close();
            }
        }
        QSqlDatabase::removeDatabase("isopen");
    }
    if (!on)
        return;

    QDir().mkpath("./cnt_net/data/");
    QFile::remove("./cnt_net/chknettimes");
    if (!listen(QHostAddress::LocalHost, m_opt.port))
        NETLOG << "CNT: cannot listen on 127.0.0.1:" << m_opt.port << ": " << errorString().toStdString();
    else
        NETLOG << "CNT: server is alread open...";
    m_sender.ackMs = m_opt.ackMs;
    m_sender.limit = m_opt.queueLimit;
    m_sender.clear();
    m_lastHeart = QDateTime::currentMSecsSinceEpoch();
    m_timers.insert(startTimer(m_opt.heartMs), "heart_timer");
    m_socket = nullptr;
    m_connected = m_memSent = m_memReady = false;
    m_memInfo.clear();
    InitStatistics();
    InitManualStop();
    m_init = true;
    getWhichSend();
}

void CNT_Net::CNT_FirstInit()
{
    if (!m_init || !gpWPara)
        return;
    if (gpWPara->cnt_video_source == 1)
        CNT_AddUseMemory(0, gShowW, gShowH, false);
    if (!m_blocks.isEmpty() && !m_timers.values().contains("send_timer"))
        m_timers.insert(startTimer(50), "send_timer");
    if (m_connected && gpWPara->cnt_video_source != 0)
        CNT_SendMemoryInfo();
}

bool CNT_Net::linkOn() const { return m_init && (!gpWPara || gpWPara->enable_cnt_net); }

void CNT_Net::CNT_ReStart()
{
    if (gpNet)
        gpNet->restartClient(nullptr);
}

void CNT_Net::restartClient(const char* why)
{
    if (why)
        NETLOG << why;
    if (!QFile::exists(kClientScript))
        return;
    // The one before goes first: two clients would fight over the link.
    if (m_client) {
        QProcess* old = m_client;
        old->disconnect(this);
        connect(old, &QProcess::finished, old, &QObject::deleteLater);
        old->terminate();
        QTimer::singleShot(3000, old, [old] { old->kill(); });
    }
    auto* p = new QProcess(this);
    p->setProgram(m_opt.python);
    p->setArguments({QString::fromLatin1(kClientScript)});
    p->setWorkingDirectory(QDir::currentPath());
    QDir().mkpath("./cnt_net/data/");
    p->setStandardOutputFile("./cnt_net/data/client.log", QIODevice::Append);
    p->setStandardErrorFile("./cnt_net/data/client.log", QIODevice::Append);
    connect(p, &QProcess::errorOccurred, this, [p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            NETLOG << "CNT: network client could not start: " << p->errorString().toStdString();
    });
    // A client that ends by itself is started again: soon after a long run,
    // later and later when it keeps ending at once.
    connect(p, &QProcess::finished, this, [this, p](int code, QProcess::ExitStatus status) {
        if (p != m_client || !linkOn())
            return;
        const qint64 ran = QDateTime::currentMSecsSinceEpoch() - m_clientSince;
        m_clientBackoff = ran < 5000 ? std::min(std::max(m_clientBackoff * 2, 2000), 60000) : 2000;
        NETLOG << "CNT: network client ended (" << (status == QProcess::CrashExit ? "crash" : "exit ")
               << code << "), restarting in " << m_clientBackoff << " ms";
        QTimer::singleShot(m_clientBackoff, this, [this, p] {
            if (p == m_client)
                restartClient("(client ended) 'NetClinet' will restart...");
        });
    });
    m_client = p;
    m_clientSince = QDateTime::currentMSecsSinceEpoch();
    ++m_clientStarts;
    p->start();
}

void CNT_Net::getWhichSend()
{
    m_filter.clear();
    for (int id = 0; id <= netlink::kMaxMessageId; ++id)
        m_filter[id] = true;
    QFile f("./cnt_net/whichsend.config");
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = f.read(1 << 16);
    cJSON* root = cJSON_ParseWithLength(text.constData(), size_t(text.size()));
    if (cJSON_IsObject(root)) {
        for (int id = 0; id <= netlink::kMaxMessageId; ++id) {
            const cJSON* v = cJSON_GetObjectItemCaseSensitive(root, QByteArray::number(id).constData());
            if (v)
                m_filter[id] = !cJSON_IsFalse(v);
        }
    } else {
        NETLOG << "CNT: whichsend.config is not a JSON object; every message is sent";
    }
    cJSON_Delete(root);
}

void CNT_Net::queue(int id, const QByteArray& body)
{
    if (!sendable(id))
        return;
    m_sender.append(netlink::frame(id, body));
}

void CNT_Net::StartSend()
{
    if (!m_connected || !m_socket)
        return;
    m_sender.setSocket(m_socket);
    QMetaObject::invokeMethod(&m_sender, &CNT_Thread::run, Qt::QueuedConnection);
}

void CNT_Net::goThrough(qint64 seq) { m_sender.acknowledged(seq); }

void CNT_Net::incomingConnection(qintptr descriptor)
{
    if (m_socket) {
        // One client: the one we have keeps the link.
        QTcpSocket refused;
        refused.setSocketDescriptor(descriptor);
        NETLOG << "CNT: second connection from port " << refused.peerPort() << " refused";
        refused.abort();
        return;
    }
    m_connected = true;
    m_lastHeart = QDateTime::currentMSecsSinceEpoch();
    NETLOG << "CNT: new connected";
    m_socket = new QTcpSocket(this);
    m_socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
    connect(m_socket, &QTcpSocket::disconnected, this, &CNT_Net::SlotDisConnetced);
    connect(m_socket, &QTcpSocket::readyRead, this, &CNT_Net::SlotReadyRead);
    if (gpWPara && gpWPara->cnt_video_source != 0)
        CNT_SendMemoryInfo();
    // The client's first heartbeat says whether it reads numbered frames:
    // sending waits for it a little, so that the message a lost connection
    // left on the wire goes again under its number and is kept once. A
    // client that says nothing gets the older frames then.
    QPointer<QTcpSocket> socket = m_socket;
    QTimer::singleShot(kHelloMs, this, [this, socket] {
        if (socket && socket == m_socket)
            StartSend();
    });
    emit clientConnected();
}

void CNT_Net::SlotDisConnetced()
{
    NETLOG << "CNT: has disconnect";
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_sender.clearSocket();
    m_connected = false;
    m_memSent = false;
    for (ShareBlock& b : m_blocks)
        b.sem.retInitPV();
    emit clientDisconnected();
}

void CNT_Net::SlotReadyRead()
{
    // Bytes are taken as they come, one bounded read at a time: nothing from
    // the client accumulates here.
    while (m_socket && m_socket->bytesAvailable() > 0)
        ParsingBackBuf(m_socket->read(netlink::kReadChunk));
}

void CNT_Net::ParsingBackBuf(const QByteArray& text)
{
    const QList<netlink::Received> got = netlink::parseReceived(text);
    if (got.isEmpty()) {
        const quint64 n = ++m_ignored;
        if (n <= 10 || n % 1000 == 0)
            NETLOG << "CNT: received text ignored (" << text.size() << " bytes, " << n << " so far)";
        return;
    }
    for (const netlink::Received& r : got) {
        if (r.numbered && !m_sender.numbered.exchange(true))
            StartSend();
        switch (r.kind) {
        case netlink::Received::Ack:
            goThrough(r.seq);
            break;
        case netlink::Received::Heart:
            m_connected = true;
            m_lastHeart = QDateTime::currentMSecsSinceEpoch();
            break;
        case netlink::Received::Reline:
            m_connected = false;
            if (linkOn()) {
                if (m_socket)
                    m_socket->abort();   // the next client finds the link free
                restartClient("(recv info) 'NetClinet' will restart...");
            }
            m_lastHeart = QDateTime::currentMSecsSinceEpoch();
            break;
        case netlink::Received::Reply:
            if (r.session == 14) {
                bool ok = false;
                const QStringList names = netlink::productNames(r.body, &ok);
                if (ok) {
                    m_products = names;
                    emit productsReceived(names);
                }
            } else if (r.session == 17) {
                bool ok = false;
                const QList<netlink::RemindRow> rows = netlink::remindList(r.body, &ok);
                if (ok) {
                    m_reminders = rows;
                    emit remindersReceived();
                }
            }
            break;
        case netlink::Received::Ignored:
            ++m_ignored;
            break;
        }
    }
}

void CNT_Net::timerEvent(QTimerEvent* e)
{
    const QString name = m_timers.value(e->timerId());
    if (name == "heart_timer") {
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        // A minute's tick keeps a link that beat within 59 001 ms; shorter ticks in proportion.
        if (nowMs - m_lastHeart < m_opt.heartMs - m_opt.heartMs / 60 + 1) {
            m_connected = m_socket != nullptr;
        } else {
            m_connected = false;
            // A silent client may hold the one connection: it goes, the new one comes.
            if (m_socket)
                m_socket->abort();
            if (linkOn())
                restartClient("(hearttimes timeout) 'NetClinet' will restart...");
        }
        m_lastHeart = nowMs;
    } else if (name == "send_timer") {
        refreshVideo();
    } else {
        QTcpServer::timerEvent(e);
    }
}
