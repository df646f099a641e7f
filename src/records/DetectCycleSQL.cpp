#include "DetectCycleSQL.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QtDebug>

namespace {
const char* kFile = "DetectCycle.db";
const char* kDir = "./DetectCycle";
const char* kTime = "./DetectCycle/time.txt";
const char* kCreate =
    "CREATE TABLE IF NOT EXISTS detect_cycle(idx                INTEGER PRIMARY KEY,roundstart         VARCHAR(32) NOT "
    "NULL,roundtime          VARCHAR(32) NOT NULL)";

DetectCycleSQL* gInstance = nullptr;
DetectCycleSQL::Clock gClock;
} // namespace

DetectCycleSQL* DetectCycleSQL::instance()
{
    if (!gInstance)
        gInstance = new DetectCycleSQL(gClock);
    return gInstance;
}

bool DetectCycleSQL::exists() { return gInstance != nullptr; }

void DetectCycleSQL::reset(Clock clock)
{
    if (gInstance) {
        gInstance->closeDB();
        delete gInstance;
        gInstance = nullptr;
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    }
    gClock = std::move(clock);
}

DetectCycleSQL::DetectCycleSQL(Clock clock) : m_clock(std::move(clock))
{
    m_db = QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)) ? QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false)
                                                                        : QSqlDatabase::addDatabase("QSQLITE");
    readTime();
    checkDate();
}

QDateTime DetectCycleSQL::now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }

bool DetectCycleSQL::writeTime() const
{
    QSaveFile f(kTime);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    f.write(log_date.toString("yyyy-MM-dd").toLatin1());
    return f.commit();
}

void DetectCycleSQL::readTime()
{
    QDir().mkpath(kDir);
    log_date = storedLogDate();
    if (log_date.isValid())
        return;
    if (QFile::exists(kTime))
        qWarning() << "DetectCycle/time.txt holds no date; today is assumed";
    log_date = now().date();
    writeTime();
}

void DetectCycleSQL::checkDate()
{
    const QDate today = now().date();
    if (today == log_date) {
        // Once a run also when the file is there (a kill while it was made
        // leaves it without its table); afterwards only when it went missing.
        if (!m_tableChecked || !QFile::exists(kFile))
            m_tableChecked = createTable();
        return;
    }
    createSQL();
}

bool DetectCycleSQL::createSQL()
{
    closeDB();
    if (QFile::exists(kFile)) {
        // A row a kill cut short is rolled back from its journal first: the
        // journal does not move with the file, and played into the next
        // day's file it would break it.
        if (QFile::exists(QStringLiteral("%1-journal").arg(kFile))) {
            m_db.setDatabaseName(kFile);
            if (m_db.open())
                QSqlQuery(m_db).exec("select count(*) from sqlite_master");
            m_db.close();
        }
        QDir().mkpath(kDir);
        QString target = QStringLiteral("%1/%2.db").arg(kDir, log_date.toString("yyyy-MM-dd"));
        // A day that is already archived (the clock went back) is not overwritten.
        for (int n = 2; QFile::exists(target); ++n)
            target = QStringLiteral("%1/%2-%3.db").arg(kDir, log_date.toString("yyyy-MM-dd")).arg(n);
        if (!QFile::rename(kFile, target)) {
            // Never a new day's file over the old day's rows: the day is kept and tried again.
            qWarning() << "DetectCycle.db could not be archived as" << target;
            if (!m_archiveFailSaid && archiveFailed) {
                archiveFailed(log_date.toString("yyyy-MM-dd"), target);
                m_archiveFailSaid = true;
            }
            return false;
        }
    }
    m_archiveFailSaid = false;
    // The new day is named before its file is made: a start after a kill
    // here makes the file, where an empty file under the old day's name
    // would be archived as a second copy of that day.
    log_date = now().date();
    if (!writeTime())
        qWarning() << "DetectCycle/time.txt cannot be written";
    m_tableChecked = createTable();
    return true;
}

bool DetectCycleSQL::createTable()
{
    m_db.setDatabaseName(kFile);
    m_db.setConnectOptions();
    bool ok = m_db.open() && QSqlQuery(m_db).exec(kCreate);
    if (!ok) {
        // Not a database (a power cut while it was made, a bad copy): kept aside, begun anew.
        m_db.close();
        const QString aside = QStringLiteral("DetectCycle.db.broken-%1").arg(now().toString("yyyyMMdd-hhmmss"));
        qWarning() << "DetectCycle.db unusable, kept as" << aside;
        QFile::rename(kFile, aside);
        if (keptAside)
            keptAside(aside);
        ok = m_db.open() && QSqlQuery(m_db).exec(kCreate);
    }
    m_db.close();
    return ok;
}

bool DetectCycleSQL::insertDate(const detectCycleInfo& info)
{
    // Rows belong to the file of their day, also on a station that runs for weeks.
    if (now().date() != log_date)
        checkDate();
    setDefaultDB();
    if (!m_db.isOpen() && !m_db.open()) {
        qWarning() << "DetectCycle.db open fail";
        return false;
    }
    auto insert = [&] {
        QSqlQuery q(m_db);
        q.prepare("INSERT INTO detect_cycle (roundstart, roundtime) VALUES (?, ?)");
        q.addBindValue(info.roundstart);
        q.addBindValue(QString::number(info.roundtime, 'g', 10));
        const bool done = q.exec();
        if (!done)
            qWarning() << "DetectCycle.db insert failed:" << q.lastError().text();
        return done;
    };
    bool ok = insert();
    if (!ok) {
        // The file went bad under us: kept aside and made anew, then once more.
        m_db.close();
        ok = createTable() && m_db.open() && insert();
    }
    m_db.close();
    return ok;
}

QSqlDatabase DetectCycleSQL::readDB(const QString& file)
{
    m_db.close();
    m_db.setDatabaseName(file);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!QFile::exists(file) || !m_db.open()) {
        qWarning() << "database open fail!" << file;
        m_db.setConnectOptions();
        return QSqlDatabase();
    }
    return m_db;
}

QStringList DetectCycleSQL::getDBName() const
{
    QStringList names = QDir(kDir).entryList({"*.db"}, QDir::Files, QDir::Name);
    for (QString& n : names)
        n.chop(3);
    names << now().date().toString("yyyy-MM-dd");
    return names;
}

QString DetectCycleSQL::fileOfDay(const QString& day, const QDate& logDay)
{
    if (day == logDay.toString("yyyy-MM-dd"))
        return kFile;
    return QStringLiteral("%1/%2.db").arg(kDir, day);
}

QDate DetectCycleSQL::storedLogDate()
{
    QFile f(kTime);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QDate::fromString(QString::fromLatin1(f.readAll()).simplified().section(' ', 0, 0), "yyyy-MM-dd");
}

namespace {
const char* kStamp = "yyyy-MM-dd hh:mm:ss.zzz";
QString queryLine(const QDateTime& from, const QDateTime& to)
{
    return QStringLiteral("SELECT roundstart,roundtime FROM detect_cycle WHERE roundstart BETWEEN datetime(\"%1\") AND "
                          "datetime(\"%2\")")
        .arg(from.toString(kStamp), to.toString(kStamp));
}
} // namespace

QStringList DetectCycleSQL::exportQueries(const QDateTime& start, const QDateTime& end)
{
    QStringList lines;
    if (end < start)
        return lines;
    const QTime last(23, 59, 59, 999);
    if (start.date() == end.date())
        return {queryLine(start, end)};
    lines << queryLine(start, QDateTime(start.date(), last));
    for (QDate d = start.date().addDays(1); d < end.date(); d = d.addDays(1))
        lines << queryLine(QDateTime(d, QTime(0, 0)), QDateTime(d, last));
    lines << queryLine(QDateTime(end.date(), QTime(0, 0)), end);
    return lines;
}

bool DetectCycleSQL::parseQuery(const QString& line, QString* from, QString* to)
{
    static const QRegularExpression re(
        QStringLiteral("^SELECT roundstart,roundtime FROM detect_cycle WHERE roundstart BETWEEN "
                       "datetime\\(\"(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})\"\\) AND "
                       "datetime\\(\"(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})\"\\)$"));
    const QRegularExpressionMatch m = re.match(line.trimmed());
    if (!m.hasMatch())
        return false;
    *from = m.captured(1);
    *to = m.captured(2);
    return true;
}

QList<detectCycleInfo> DetectCycleSQL::rowsBetween(const QString& file, const QString& from, const QString& to)
{
    QList<detectCycleInfo> rows;
    if (!QFile::exists(file))
        return rows;
    const QString conn = QStringLiteral("detectCycleRead");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", conn);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            // Compared as text to the millisecond: SQLite's datetime() would drop
            // the milliseconds and lose the last second of every day.
            q.prepare("SELECT roundstart, roundtime FROM detect_cycle WHERE roundstart BETWEEN ? AND ? ORDER BY roundstart");
            q.addBindValue(from);
            q.addBindValue(to);
            if (q.exec())
                while (q.next())
                    rows.append({q.value(0).toString(), q.value(1).toDouble()});
            else
                qWarning() << "cycle log unreadable:" << file << q.lastError().text();
        } else {
            qWarning() << "database open fail!" << file;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(conn);
    return rows;
}

DetectCycleSQL::Summary DetectCycleSQL::summarize(QList<double> periods)
{
    Summary s;
    s.count = int(periods.size());
    if (periods.isEmpty())
        return s;
    std::sort(periods.begin(), periods.end());
    s.min = periods.first();
    s.max = periods.last();
    const qsizetype n = periods.size();
    s.median = n % 2 ? periods[n / 2] : (periods[n / 2 - 1] + periods[n / 2]) / 2;
    return s;
}

void DetectCycleSQL::closeDB() { m_db.close(); }

void DetectCycleSQL::setDefaultDB()
{
    if (m_db.databaseName() != kFile || !m_db.connectOptions().isEmpty()) {
        m_db.close();
        m_db.setConnectOptions();
        m_db.setDatabaseName(kFile);
    }
}
