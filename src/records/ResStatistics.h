#pragma once
// Result statistics: OK and NG judgements per camera, detection and clock
// hour of the production day (08:00 to 08:00, named by the date it starts),
// split into a morning (8-19) and a night shift (20-7). The live counts are
// kept in ResStatistics.db (rows "C<camera>_D<detection>", 8 = all); each
// finished day is archived under ./ResStatistics/<day>.db.
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

enum ShiftType { Morning = 0, Night = 1, WholeDay = 2 };

struct CountDetect {
    QList<int> ok_hour = QList<int>(24, 0);
    QList<int> ng_hour = QList<int>(24, 0);
    // NG morning, OK morning, NG night, OK night, NG day, OK day.
    int sums[6] = {};
    void clear() { *this = CountDetect(); }
    void sum();
};
struct CountCamera : CountDetect {
    QList<CountDetect> detects = QList<CountDetect>(8);
};
struct CountAllCamera : CountDetect {
    QList<CountDetect> detects = QList<CountDetect>(8);
    QList<CountCamera> cameras = QList<CountCamera>(8);
};

class ResStatisticsParam : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    // Opens (or makes from the template) ResStatistics.db in the working
    // directory, loads it and puts the production day in order.
    explicit ResStatisticsParam(Clock clock = {}, QObject* parent = nullptr);
    ~ResStatisticsParam() override;

    bool usable() const { return m_open; }
    QString error() const { return m_error; }

    // One judgement: clock hour, OK or NG, camera 0..7, detection 0..7.
    void Add(int hour, bool ok, int camera, int detection);

    // From the displayed set; camera 8 all cameras, detection 8 the total.
    int getCount(ShiftType shift, bool ok, int camera, int detection) const;
    // Hourly counts: morning 8..19, night 20..23 then 0..7, whole day 0..23.
    QList<int> getRes(ShiftType shift, bool ok, int camera, int detection) const;

    // The displayed set: the live counts, or an archived day (false when it
    // cannot be read; the displayed set is then left as it was).
    void setFindCount();
    bool setFindCount(const QString& archivedDayFile);
    // The archived days, newest first.
    QStringList archivedDays() const;

    void checkDate();
    // Archives the day and begins newName; false when the file could not be
    // archived: the day and its counts stay, and checkDate tries again a
    // minute later.
    bool NextDay(const QString& newName);
    // Why the last archiving failed (empty: it did not).
    QString archiveProblem() const { return m_archiveProblem; }
    void readTime();
    bool save();
    void clcCount();

    QString dayName() const { return m_dayName; }
    qint64 dayStart() const { return m_dayStart; }
    const CountAllCamera& live() const { return m_live; }

signals:
    void countsChanged();
    void daysChanged();
    // Once per day that cannot be archived.
    void archiveFailed(const QString& day, const QString& target);

private:
    bool open();
    void close();
    // Finishes a noted day change (archive, new day start); false when the
    // file could not be archived (the day then stays).
    bool finishDayChange();
    static bool load(const QString& connection, CountAllCamera* into);
    qint64 lastEight() const;
    void writeDayStart() const;
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }

    Clock m_clock;
    bool m_open = false;
    QString m_error;
    CountAllCamera m_live, m_shown;
    qint64 m_dayStart = 0;
    QString m_dayName;
    QString m_archiveProblem;
    QDateTime m_retryAfter;
};

extern ResStatisticsParam* gpResStatisticsParam;
