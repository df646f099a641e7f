#pragma once
// The detection cycle log: one row per machine cycle (when it started, how
// long since the previous one) in DetectCycle.db; each finished day is kept
// as ./DetectCycle/<yyyy-MM-dd>.db, and ./DetectCycle/time.txt names the day
// of the current file.
#include <QDate>
#include <QObject>
#include <QSqlDatabase>
#include <QStringList>
#include <functional>

struct detectCycleInfo {
    QString roundstart;   // "yyyy-MM-dd hh:mm:ss.zzz"
    double roundtime = 0; // seconds
};

class DetectCycleSQL : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    // The one log of the station, made on first use.
    static DetectCycleSQL* instance();
    static bool exists();
    // Tests: the next instance() reads the clock given here.
    static void reset(Clock clock = {});

    // Appends one row to the file of the current day; false (and the row
    // lost, with a warning) when the file cannot be written.
    bool insertDate(const detectCycleInfo& info);
    // A handle on the given file, opened read-only; invalid when it cannot be opened.
    QSqlDatabase readDB(const QString& file);
    // Base names of ./DetectCycle/*.db, then today's date last.
    QStringList getDBName() const;
    void closeDB();
    void setDefaultDB();
    // A new day since the current file was started: archive it and begin anew.
    // When it cannot be archived the file stays that day's (rows of the new
    // day go on into it) and it is tried again at the next check.
    void checkDate();

    QDate logDate() const { return log_date; }
    // The file that holds the rows of day ("yyyy-MM-dd"): DetectCycle.db for
    // the day of the current file, else its archive.
    static QString fileOfDay(const QString& day, const QDate& logDay);
    // The day of the current file as time.txt says, without changing anything.
    static QDate storedLogDate();

    // The export queries, one per calendar day from start to end: the first
    // day from start, the last up to end, the others whole.
    static QStringList exportQueries(const QDateTime& start, const QDateTime& end);
    // The two times of one such line; false when it is not one.
    static bool parseQuery(const QString& line, QString* from, QString* to);
    // The rows of a file between two times (inclusive, to the millisecond).
    static QList<detectCycleInfo> rowsBetween(const QString& file, const QString& from, const QString& to);

    struct Summary {
        int count = 0;
        double min = 0, median = 0, max = 0;
    };
    static Summary summarize(QList<double> periods);

    // Called with the name an unusable log file was kept under.
    std::function<void(const QString&)> keptAside;
    // Called once per day that cannot be archived: the day and the archive's name.
    std::function<void(const QString& day, const QString& target)> archiveFailed;

    // The cycle's period in tenths of a second as the log stores it: 12.3, 40.
    static double periodSeconds(int tenths) { return tenths / 10.0; }

private:
    explicit DetectCycleSQL(Clock clock);
    void readTime();
    bool createTable();
    bool createSQL();
    bool m_archiveFailSaid = false;
    bool m_tableChecked = false;
    bool writeTime() const;
    QDateTime now() const;

    Clock m_clock;
    QSqlDatabase m_db;
    QDate log_date;
};
