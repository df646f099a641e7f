// The service link's wire format, its sender and its server, with a test
// socket in the client's place.
#include "NetRig.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using netlink::Received;

TEST(Frame, LengthCountsUtf8BytesAndAnEmptyBodyIsThePrefixAlone)
{
    EXPECT_EQ(netlink::frame(14, {}), QByteArray("14:0:..!"));
    const QByteArray chinese = QString::fromUtf8("正在检测").toUtf8();
    EXPECT_EQ(netlink::frame(1, chinese), "1:12:..!" + chinese);
    // Numbered: the number in the third field, read back whole.
    EXPECT_EQ(netlink::frame(14, {}, 7), QByteArray("14:0:7!"));
    const netlink::Framed f = netlink::unframe(netlink::frame(1, chinese, 4000000000u));
    EXPECT_TRUE(f.ok);
    EXPECT_EQ(f.id, 1);
    EXPECT_EQ(f.seq, 4000000000u);
    EXPECT_EQ(f.body, chinese);
    EXPECT_EQ(netlink::withSequence("5:1:..!a", 9), "5:1:9!a");
    // A length that is not the body's, or a number that is none: not a frame.
    EXPECT_FALSE(netlink::unframe("5:2:..!a").ok);
    EXPECT_FALSE(netlink::unframe("5:1:x!a").ok);
    EXPECT_FALSE(netlink::unframe("5:1:99999999999!a").ok);
}

TEST(Received, ControlTextsRepliesAndWhatIsIgnored)
{
    auto one = [](const QByteArray& t) {
        const QList<Received> r = netlink::parseReceived(t);
        return r.size() == 1 ? r[0] : Received{};
    };
    EXPECT_EQ(one("/back/\r\n\r\n").kind, Received::Ack);
    EXPECT_EQ(one("/back/\r\n\r\n").seq, -1);
    EXPECT_EQ(one("/back/\r\nSeq:42\r\n\r\n").seq, 42);
    EXPECT_EQ(one("/back/\r\nSeq: 7x\r\n\r\n").seq, -1) << "not a number: no name";
    EXPECT_TRUE(one("/heart/\r\nSeq: yes\r\n\r\n").numbered);
    EXPECT_FALSE(one("/heart/\r\n\r\n").numbered);
    EXPECT_EQ(one("GET /heart/ HTTP\r\nx: y\r\n\r\n").kind, Received::Heart);
    EXPECT_EQ(one("/reline/\r\n\r\n").kind, Received::Reline);

    const Received r = one("/reply/\r\nSessionId:3\r\nSessionId: 14\r\n\r\n{\"result\":[]}");
    EXPECT_EQ(r.kind, Received::Reply);
    EXPECT_EQ(r.session, 14);   // the last one wins
    EXPECT_EQ(r.body, "{\"result\":[]}");
    // "SessionId" that does not split into two parts is not an id.
    EXPECT_EQ(one("/reply/\r\nSessionId:1:2\r\n\r\nx").kind, Received::Ignored);

    // Three parts: ignored. No separator: nothing.
    EXPECT_TRUE(netlink::parseReceived("/reply/\r\nSessionId:14\r\n\r\na\r\n\r\nb").isEmpty());
    EXPECT_TRUE(netlink::parseReceived("just bytes").isEmpty());
    // The text ends at its first zero byte.
    EXPECT_TRUE(netlink::parseReceived(QByteArray("/heart/\0\r\n\r\n", 12)).isEmpty());

    // Texts that arrive together are taken one by one.
    const QList<Received> many = netlink::parseReceived("/back/\r\n\r\n/heart/\r\n\r\n/back/\r\n\r\n");
    ASSERT_EQ(many.size(), 3);
    EXPECT_EQ(many[0].kind, Received::Ack);
    EXPECT_EQ(many[1].kind, Received::Heart);
    EXPECT_EQ(many[2].kind, Received::Ack);
}

// The fuzzer's findings, replayed on every run with the fuzz target's rules.
TEST(Received, EveryKeptFuzzFindingIsReadWithoutHarm)
{
    const QDir corpus(QStringLiteral(STATION_NET_CORPUS));
    const QStringList files = corpus.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty()) << "no findings in " << corpus.path().toStdString();
    for (const QString& name : files) {
        QFile f(corpus.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray text = f.readAll();
        const QList<Received> got = netlink::parseReceived(text);
        EXPECT_LE(got.size(), text.count("\r\n\r\n")) << name.toStdString();
        for (const Received& r : got) {
            if (r.kind == Received::Reply) {
                EXPECT_GE(r.session, 0) << name.toStdString();
                EXPECT_FALSE(r.body.contains("\r\n\r\n")) << name.toStdString();
                bool ok = false;
                const QStringList names = netlink::productNames(r.body, &ok);
                EXPECT_TRUE(ok || names.isEmpty()) << name.toStdString();
                netlink::remindList(r.body, &ok);
            } else {
                EXPECT_TRUE(r.body.isEmpty()) << name.toStdString();
            }
        }
        netlink::productNames(text);
        netlink::remindList(text);
    }
}

TEST(Received, RepliesOfTheClientAreReadOrRefused)
{
    bool ok = false;
    EXPECT_EQ(netlink::productNames(R"({"result":[{"product_name":"盖子"},{"x":1},{"product_name":"B"}]})", &ok),
              (QStringList{QString::fromUtf8("盖子"), "B"}));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(netlink::productNames("{\"result\":[", &ok).isEmpty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(netlink::productNames("{\"result\":7}", &ok).isEmpty());
    EXPECT_FALSE(ok);
    const auto rows = netlink::remindList(
        R"({"result":[{"operator":"li","create_utc":1000,"notify_utc":2000,"duration":60,"reminder_name":"oil"}]})", &ok);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].notifyUtc, 2000);
    EXPECT_EQ(rows[0].name, "oil");
}

TEST(Filter, WhichsendConfigDisablesByIdAndAMalformedFileEnablesAll)
{
    NetRig rig;
    writeText("cnt_net/whichsend.config", R"({"7": false, "8": 0, "99": false})");
    rig.net->getWhichSend();
    EXPECT_FALSE(rig.net->sendable(7));
    EXPECT_TRUE(rig.net->sendable(8));   // only false disables
    EXPECT_TRUE(rig.net->sendable(1));
    rig.net->CNT_SendStatistics("null");
    EXPECT_EQ(rig.net->sender().queued(), 0);
    EXPECT_FALSE(QFile::exists("cnt_net/data/Statistics"));

    writeText("cnt_net/whichsend.config", "{\"7\": fal");
    rig.net->getWhichSend();
    for (int id = 0; id <= 20; ++id)
        EXPECT_TRUE(rig.net->sendable(id)) << id;
}

TEST(Filter, ASwitchedOffLinkListensOnNothingAndQueuesNothing)
{
    TestDir dir;
    CNT_Net::Options o;
    o.port = 0;
    o.ipcPath = dir.path();   // reads PARAM.db: the factory has the link off
    CNT_Net net(o);
    EXPECT_FALSE(net.initialised());
    EXPECT_FALSE(net.isListening());
    net.CNT_SendGetProduct();
    EXPECT_EQ(net.sender().queued(), 0);
}

TEST(Sender, AnUnacknowledgedMessageGoesTwiceThenTheNextOne)
{
    NetRig rig(/*ackMs=*/150);
    auto peer = rig.peer();
    ASSERT_TRUE(numbering(*peer, rig));
    rig.net->CNT_SendGetProduct();
    rig.net->CNT_SendGetRemindList();
    QByteArray got;
    QElapsedTimer t;
    t.start();
    QList<qint64> at;
    QTest::qWaitFor([&] {
        if (peer->bytesAvailable()) {
            got += peer->readAll();
            at << t.elapsed();
        }
        return framesOf(got).size() >= 3;
    }, 3000);
    EXPECT_EQ(unnumbered(got).left(24), QByteArray("14:0:..!14:0:..!17:0:..!"));
    // Sent again under its own number; the next message has another.
    const QList<netlink::Framed> f = framesOf(got);
    ASSERT_GE(f.size(), 3);
    EXPECT_EQ(f[0].seq, f[1].seq);
    EXPECT_NE(f[1].seq, f[2].seq);
    EXPECT_NE(f[0].seq, 0u);
    ASSERT_GE(at.size(), 3);
    EXPECT_GE(at[1] - at[0], 120);   // the second send waited for the acknowledgement
    QTest::qWaitFor([&] { return rig.net->sender().queued() == 0; }, 2000);
    EXPECT_EQ(rig.net->sender().unacknowledged, 2u);
}

TEST(Sender, AnAcknowledgementLetsTheNextGoAtOnceAndOnlyWithAMessageOnTheWire)
{
    NetRig rig(/*ackMs=*/60000);
    auto peer = rig.peer();
    // With nothing on the wire an acknowledgement only wakes the sender.
    peer->write("/back/\r\n\r\n");
    peer->flush();
    QTest::qWait(50);
    for (int i = 0; i < 3; ++i)
        rig.net->CNT_SendAlarmPic(QStringLiteral("/p/%1.jpg").arg(i));
    QByteArray got;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(QTest::qWaitFor([&] { got += peer->readAll(); return got.endsWith(QByteArray::number(i) + ".jpg"); }, 2000))
            << got.constData();
        peer->write("/back/\r\n\r\n");
        peer->flush();
    }
    EXPECT_EQ(unnumbered(got), "5:8:..!/p/0.jpg5:8:..!/p/1.jpg5:8:..!/p/2.jpg");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().queued() == 0; }, 2000));
    EXPECT_EQ(rig.net->sender().resent, 0u);
}

TEST(Sender, ALateAcknowledgementOfAMessageSentAgainDoesNotTakeTheNextWithIt)
{
    NetRig rig(/*ackMs=*/200);
    auto peer = rig.peer();
    ASSERT_TRUE(numbering(*peer, rig));
    rig.net->CNT_SendAlarmPic("a");
    rig.net->CNT_SendAlarmPic("b");
    QByteArray got;
    // "a" goes twice: its first acknowledgement was late.
    ASSERT_TRUE(QTest::qWaitFor([&] { got += peer->readAll(); return framesOf(got).size() >= 2; }, 3000));
    const QList<netlink::Framed> twice = framesOf(got);
    ASSERT_EQ(twice[0].body, "a");
    ASSERT_EQ(twice[1].body, "a");
    ASSERT_EQ(twice[0].seq, twice[1].seq);
    // Both acknowledgements arrive, one after the other: the second is the late one.
    peer->write(ackOf(twice[0].seq) + ackOf(twice[0].seq));
    peer->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().lateAcks >= 1; }, 3000));
    // "b" is still waiting for its own acknowledgement, and is sent.
    EXPECT_EQ(rig.net->sender().queued(), 1);
    EXPECT_EQ(bodyOf(rig.net->sender().snapshot().first()), "b");
    ASSERT_TRUE(QTest::qWaitFor([&] { got += peer->readAll(); return framesOf(got).size() >= 3; }, 3000));
    const netlink::Framed b = framesOf(got)[2];
    EXPECT_EQ(b.body, "b");
    peer->write(ackOf(b.seq));
    peer->flush();
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.net->sender().queued() == 0; }, 3000));
    EXPECT_EQ(rig.net->sender().unacknowledged, 0u);
}

TEST(Sender, AClientThatDoesNotSayItReadsNumbersGetsTheOlderFrames)
{
    NetRig rig(/*ackMs=*/60000);
    auto peer = rig.peer();
    rig.net->CNT_SendAlarmPic("a");
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] { got += peer->readAll(); return framesOf(got).size() >= 1; }, 3000));
    EXPECT_EQ(got, "5:1:..!a");
    // It says so: the next message is numbered.
    ASSERT_TRUE(numbering(*peer, rig));
    peer->write("/back/\r\n\r\n");
    peer->flush();
    rig.net->CNT_SendAlarmPic("b");
    ASSERT_TRUE(QTest::qWaitFor([&] { got += peer->readAll(); return framesOf(got).size() >= 2; }, 3000));
    EXPECT_NE(framesOf(got)[1].seq, 0u);
    EXPECT_EQ(framesOf(got)[1].body, "b");
    // A new connection begins unnumbered again.
    peer->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.net->isConnected(); }, 3000));
    auto next = rig.peer();
    QByteArray again;
    ASSERT_TRUE(QTest::qWaitFor([&] { again += next->readAll(); return framesOf(again).size() >= 1; }, 3000));
    EXPECT_EQ(again, "5:1:..!b");
}

TEST(Sender, TheQueueIsBoundedAndCountsWhatItDrops)
{
    NetRig rig(5000, 60000, /*queueLimit=*/5);
    for (int i = 0; i < 8; ++i)
        rig.net->CNT_SendAlarmPic(QString::number(i));
    EXPECT_EQ(rig.net->sender().queued(), 5);
    EXPECT_EQ(rig.net->sender().overflow, 3u);
    // The newest are kept: the oldest ones were the ones dropped.
    EXPECT_EQ(bodyOf(rig.net->sender().snapshot().first()), "3");
    EXPECT_EQ(bodyOf(rig.net->sender().snapshot().last()), "7");
}

TEST(Server, OneClientAtATimeAndTheQueueWaitsForTheNext)
{
    NetRig rig(/*ackMs=*/60000);
    rig.net->CNT_SendAlarmPic("a");
    auto first = rig.peer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->bytesAvailable() > 0; }, 2000));
    EXPECT_EQ(unnumbered(first->readAll()), "5:1:..!a");

    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, rig.net->port());
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.state() == QAbstractSocket::UnconnectedState; }, 2000));

    // The first client goes without acknowledging: what was on the wire goes again to the next.
    rig.net->CNT_SendAlarmPic("b");
    first->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.net->isConnected(); }, 2000));
    EXPECT_EQ(rig.net->sender().queued(), 2);
    auto next = rig.peer();
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] { got += next->readAll(); return framesOf(got).size() >= 1; }, 2000));
    EXPECT_EQ(unnumbered(got), "5:1:..!a");
    next->write("/back/\r\n\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { got += next->readAll(); return framesOf(got).size() >= 2; }, 2000));
    EXPECT_EQ(unnumbered(got), "5:1:..!a5:1:..!b");
}

TEST(Server, WhatTheClientSendsIsUntrustedInput)
{
    NetRig rig;
    auto peer = rig.peer();
    QByteArray noise(4 << 20, '\0');
    QRandomGenerator g(7);
    for (char& c : noise)
        c = char(g.bounded(256));
    peer->write(noise);
    for (const char* t : {"/reply/\r\nSessionId:14\r\n\r\n{\"result\":[{\"product_name\":", "\r\n\r\n\r\n\r\n",
                          "/reply/\r\nSessionId:99999999999999999999\r\n\r\n{}", "/unknown/\r\n\r\nbody"})
        peer->write(t);
    QByteArray flood;
    for (int i = 0; i < 20000; ++i)
        flood += "/heart/\r\n\r\n";
    peer->write(flood);
    peer->flush();
    QTest::qWait(500);
    EXPECT_GT(rig.net->ignoredTexts(), 0u);
    EXPECT_TRUE(rig.net->products().isEmpty());
    // Still a working link: a real reply is read.
    peer->write("/reply/\r\nSessionId:14\r\n\r\n{\"result\":[{\"product_name\":\"cap\"}]}");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.net->products() == QStringList{"cap"}; }, 2000));
    EXPECT_TRUE(rig.net->isConnected());
}

TEST(Server, ARelineFreesTheLinkForTheNextClient)
{
    NetRig rig;
    QFile::remove("cnt_net/runNetClient.py");   // no client to start: the test is the client
    auto peer = rig.peer();
    peer->write("/reline/\r\n\r\n");
    peer->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }, 2000));
    EXPECT_FALSE(rig.net->isConnected());
    auto next = rig.peer();
    EXPECT_TRUE(rig.net->isConnected());
    rig.net->CNT_SendGetProduct();
    EXPECT_TRUE(QTest::qWaitFor([&] { return unnumbered(next->readAll()) == "14:0:..!"; }, 2000));
}
