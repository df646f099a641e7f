#include "Access.h"

#include "Messages.h"
#include "OperationRecord.h"
#include "WizardPara.h"

#include <algorithm>

namespace passwords {

QString dateStamp(const QDateTime& now) { return now.toString("MMddhh"); }

QString servicePassword(bool withStamp, const QDateTime& now)
{
    const QString code = QString::fromLatin1(kServiceCode);
    return withStamp ? code + dateStamp(now) : code;
}

int levelFor(const QString& typed, const WizardPara& wp, const QDateTime& now)
{
    if (typed.isEmpty())
        return 0;
    if (typed == servicePassword(wp.is_psw_used != 0, now))
        return 2;
    const QString system = ParaText(wp.password);
    return !system.isEmpty() && typed == system ? 1 : 0;
}

int dialogLevelFor(const QString& typed, const WizardPara& wp, const QDateTime& now)
{
    if (typed.isEmpty())
        return 0;
    if (typed == servicePassword(true, now))
        return 2;
    const QString system = ParaText(wp.password);
    return !system.isEmpty() && typed == system ? 2 : 0;
}

QString levelLabel(int level)
{
    switch (level) {
    case 1: return LanStr(1004);
    case 2: return LanStr(1003);
    default: return LanStr(1005);
    }
}

int Throttle::waitSeconds(qint64 nowMs) const
{
    if (m_failures < 3)
        return 0;
    const int wait = std::min(60, 5 << std::min(m_failures - 3, 4));
    const qint64 left = m_lastMs + qint64(wait) * 1000 - nowMs;
    return left > 0 ? int((left + 999) / 1000) : 0;
}

void Throttle::failed(qint64 nowMs)
{
    ++m_failures;
    m_lastMs = nowMs;
}

int tryPassword(Throttle& t, const QString& typed, const WizardPara& wp, const QDateTime& now, const QString& where,
                int* waitS, bool dialog)
{
    const int wait = t.waitSeconds(now.toMSecsSinceEpoch());
    if (waitS)
        *waitS = wait;
    if (wait > 0)
        return 0;
    const int level = dialog ? dialogLevelFor(typed, wp, now) : levelFor(typed, wp, now);
    if (level == 0) {
        t.failed(now.toMSecsSinceEpoch());
        OperationRecord::instance().InsertRecord(LanStr(1425).arg(where));
        if (waitS)
            *waitS = t.waitSeconds(now.toMSecsSinceEpoch());
    } else {
        t.succeeded();
    }
    return level;
}

} // namespace passwords
