#include "Counters.h"

#include "Messages.h"
#include "OperationRecord.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QtDebug>

quint32 gAllNum[8] = {};
quint32 gFailNum[8] = {};

namespace {
const char* kFile = "count.txt";
constexpr quint64 kMaxCount = 100000000;
} // namespace

namespace {
bool gCountsKnown = false;  // read (or known to start at 0): only then written
} // namespace

bool countsKnown() { return gCountsKnown; }
void forgetCounts() { gCountsKnown = false; }

bool CountRead()
{
    gCountsKnown = true;
    for (int i = 0; i < 8; ++i)
        gAllNum[i] = gFailNum[i] = 0;
    QFile f(kFile);
    if (!f.exists())
        return false;
    QByteArray text;
    if (f.open(QIODevice::ReadOnly))
        text = f.readAll();
    const QStringList parts = QString::fromLatin1(text).split(' ', Qt::SkipEmptyParts);
    bool good = f.isOpen() && parts.size() >= 16;
    quint64 v[16] = {};
    for (int i = 0; good && i < 16; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toULongLong(&ok);
        good = ok;
    }
    f.close();
    if (!good) {
        const QString aside =
            QStringLiteral("%1.broken-%2").arg(kFile, QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
        QFile::rename(kFile, aside);
        OperationRecord::instance().InsertRecord(LanStr(1710).arg(aside));
        qWarning() << "count.txt cannot be read as counters; kept as" << aside;
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        gAllNum[i] = v[2 * i] > kMaxCount ? 0 : quint32(v[2 * i]);
        gFailNum[i] = v[2 * i + 1] > kMaxCount ? 0 : quint32(v[2 * i + 1]);
    }
    return true;
}

bool CountWrite()
{
    QByteArray line;
    for (int i = 0; i < 8; ++i)
        line += QByteArray::number(gAllNum[i]) + ' ' + QByteArray::number(gFailNum[i]) + ' ';
    QSaveFile f(kFile);
    if (!f.open(QIODevice::WriteOnly) || f.write(line) != line.size() || !f.commit()) {
        qWarning() << "count.txt cannot be written:" << f.errorString();
        return false;
    }
    return true;
}

bool CountReset()
{
    for (int i = 0; i < 8; ++i)
        gAllNum[i] = gFailNum[i] = 0;
    OperationRecord::instance().InsertRecord(LanStr(255));
    return CountWrite();
}
