#include "IoProtocol.h"

#include <QList>

#include <gtest/gtest.h>

using namespace io;

namespace {
QList<Report> parseAll(ReportParser& p)
{
    QList<Report> out;
    p.parse([&](const Report& r) { out << r; });
    return out;
}
} // namespace

TEST(Frames, CheckBytesAndLayout)
{
    const unsigned char none[1] = {0};
    EXPECT_EQ(calcLRC(none, 0), 0);
    const unsigned char bytes[3] = {0xFF, 0x02, 0x03};
    EXPECT_EQ(calcLRC(bytes, 3), 0x04);
    EXPECT_EQ(commandFrame(1, 0x1FF), QByteArray::fromHex("5f01ff0160f5"));
    EXPECT_EQ(commandFrame(2, 0), QByteArray::fromHex("5f02000061f5"));
    const QByteArray r = inputReport(0x305, 0x2A1);
    ASSERT_EQ(r.size(), 8);
    EXPECT_EQ(quint8(r[2]), 0x05);
    EXPECT_EQ(quint8(r[3]), 0x03);
    EXPECT_EQ(quint8(r[4]), 0xA1);
    EXPECT_EQ(quint8(r[5]), 0x02);
    EXPECT_EQ(quint8(r[7]), 0xF5);
}

TEST(Parser, TakesWholeFramesAndAssemblesSplitOnes)
{
    ReportParser p;
    const QByteArray a = inputReport(0x155, 0x0AA);
    p.append(a.constData(), 3);
    EXPECT_TRUE(parseAll(p).isEmpty());
    EXPECT_EQ(p.buffered(), 3);
    p.append(a.constData() + 3, 5);
    const QList<Report> got = parseAll(p);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].type, 2);
    EXPECT_EQ(got[0].inputWord(), 0x155);
    EXPECT_EQ(got[0].outputWord(), 0x0AA);
    EXPECT_EQ(p.resyncBytes(), 0u);
    EXPECT_EQ(p.buffered(), 0);
}

TEST(Parser, CorruptBytesCostOneByteEach)
{
    ReportParser p;
    QByteArray stream = QByteArray::fromHex("0102f503");          // 4 bytes of noise
    QByteArray bad = inputReport(1, 0);
    bad[6] = char(bad[6] + 1);                                     // wrong check byte
    QByteArray noEnd = inputReport(2, 0);
    noEnd[7] = 0;                                                  // end marker missing
    stream += bad + noEnd + inputReport(3, 0) + analogReport(3, -1234567);
    p.append(stream.constData(), int(stream.size()));
    const QList<Report> got = parseAll(p);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0].inputWord(), 3);
    EXPECT_EQ(got[1].type, 3);
    EXPECT_EQ(got[1].reading(), -1234567);
    EXPECT_EQ(p.resyncBytes(), 4u + 8u + 8u);
}

TEST(Parser, BufferHoldsAtMost1024Bytes)
{
    ReportParser p;
    const QByteArray junk(1000, '\x01');
    p.append(junk.constData(), int(junk.size()));
    const QByteArray f = inputReport(7, 0);
    EXPECT_EQ(p.append(f.constData(), int(f.size())), 8);
    EXPECT_EQ(p.append(f.constData(), int(f.size())), 8);
    EXPECT_EQ(p.append(f.constData(), int(f.size())), 8);
    EXPECT_EQ(p.append(f.constData(), int(f.size())), 0);  // 1024 reached: dropped
    EXPECT_EQ(p.droppedBytes(), 8u);
    EXPECT_EQ(parseAll(p).size(), 3);
}
