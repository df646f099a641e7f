#pragma once
// The password level of the main window (0 Unlogged, 1 Primary, 2 Advanced):
// the system password of the parameters gives 1, the service password gives
// 2. The service password is the service code, followed, when password
// protection is on, by a stamp of the current date and hour.
#include <QDateTime>
#include <QString>

class WizardPara;

namespace passwords {

// The fixed service code: the default administrator's password too. Older
// stations and the network client rely on it; it is not a secret.
inline constexpr const char kServiceCode[] = "5260";

// Six digits of the moment: month, day, hour ("MMddhh").
QString dateStamp(const QDateTime& now);
QString servicePassword(bool withStamp, const QDateTime& now);

// The password box: 2 for the service password (stamped when protection is
// on), 1 for the system password, 0 otherwise. An empty entry is never a password.
int levelFor(const QString& typed, const WizardPara& wp, const QDateTime& now);
// The password dialog: the stamped service password or the system password
// give 2, anything else 0.
int dialogLevelFor(const QString& typed, const WizardPara& wp, const QDateTime& now);

// The label of a level: "Unlogged", "Primary", "Advanced".
QString levelLabel(int level);

// Wrong passwords in a row make the next try wait: none for the first three,
// then 5 s, doubling up to 60 s. One per box; the clock is the caller's.
class Throttle {
public:
    // Seconds to wait before a try is taken (0: go ahead).
    int waitSeconds(qint64 nowMs) const;
    void failed(qint64 nowMs);
    void succeeded() { m_failures = 0; }
    int failures() const { return m_failures; }

private:
    int m_failures = 0;
    qint64 m_lastMs = 0;
};

// The box's accept with its throttle and record: the level reached (0 also
// when the try was refused for waiting; *waitS says how long). A wrong
// password is recorded with what it was typed in (where).
int tryPassword(Throttle& t, const QString& typed, const WizardPara& wp, const QDateTime& now, const QString& where,
                int* waitS = nullptr, bool dialog = false);

} // namespace passwords
