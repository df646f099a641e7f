#include "ResStatistics.h"

#include "DayChange.h"
#include "ParamDb.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QtDebug>

ResStatisticsParam* gpResStatisticsParam = nullptr;

namespace {
const char* kConn = "dbResStatistics";
const char* kFile = "ResStatistics.db";
const char* kTemplate = "ResStatisticsNULL.db";
const char* kTime = "restime.txt";
const char* kArchive = "./ResStatistics";

bool inMorning(int h) { return h >= 8 && h <= 19; }

QString rowName(int c, int d) { return QStringLiteral("C%1_D%2").arg(c).arg(d); }

QString join(const QList<int>& v)
{
    QString s;
    for (int x : v)
        s += QString::number(x) + ' ';
    return s;
}

// The file is ours when it has the table with its rows.
bool usableFile(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    return q.exec("select count(*) from resstatistics where name like 'C%'") && q.next() && q.value(0).toInt() > 0;
}

// The record of a row: camera 8 all cameras, detection 8 the camera's total.
const CountDetect& rowOf(const CountAllCamera& a, int c, int d)
{
    if (c == 8)
        return d == 8 ? static_cast<const CountDetect&>(a) : a.detects[d];
    return d == 8 ? static_cast<const CountDetect&>(a.cameras[c]) : a.cameras[c].detects[d];
}
CountDetect& rowOf(CountAllCamera& a, int c, int d)
{
    return const_cast<CountDetect&>(rowOf(static_cast<const CountAllCamera&>(a), c, d));
}

void add(QList<int>& into, const QList<int>& v)
{
    for (int h = 0; h < 24; ++h)
        into[h] += v[h];
}
} // namespace

void CountDetect::sum()
{
    std::fill(std::begin(sums), std::end(sums), 0);
    for (int h = 0; h < 24; ++h) {
        const int shift = inMorning(h) ? 0 : 2;
        sums[shift] += ng_hour[h];
        sums[shift + 1] += ok_hour[h];
        sums[4] += ng_hour[h];
        sums[5] += ok_hour[h];
    }
}

ResStatisticsParam::ResStatisticsParam(Clock clock, QObject* parent) : QObject(parent), m_clock(std::move(clock))
{
    // A day change a kill cut short is finished before anything is read.
    finishDayChange();
    if (!open())
        qCritical() << "result statistics unusable:" << m_error;
    else
        load(kConn, &m_live);
    clcCount();
    readTime();
    checkDate();
    // A day that could not be archived keeps its name.
    if (m_archiveProblem.isEmpty()) {
        const QDateTime t = now();
        m_dayName = (t.time().hour() >= 8 ? t.date() : t.date().addDays(-1)).toString("yyyy-MM-dd");
    }
    setFindCount();
}

ResStatisticsParam::~ResStatisticsParam()
{
    close();
    if (gpResStatisticsParam == this)
        gpResStatisticsParam = nullptr;
}

bool ResStatisticsParam::open()
{
    close();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!QFile::exists(kFile) && !daychange::copyWhole(kTemplate, kFile)) {
            m_error = QStringLiteral("%1 is missing and %2 cannot be copied").arg(kFile, kTemplate);
            return false;
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", kConn);
            db.setDatabaseName(kFile);
            if (db.open() && usableFile(db)) {
                m_open = true;
                return true;
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(kConn);
        // Kept aside, not lost: the day's counts may still be read from it.
        const QString aside = QStringLiteral("%1.broken-%2").arg(kFile, QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
        qWarning() << kFile << "is not a statistics file; kept as" << aside << "and replaced by" << kTemplate;
        if (!QFile::rename(kFile, aside)) {
            m_error = QStringLiteral("%1 cannot be opened nor moved aside").arg(kFile);
            return false;
        }
    }
    m_error = QStringLiteral("%1 is not a usable statistics template").arg(kTemplate);
    return false;
}

void ResStatisticsParam::close()
{
    if (QSqlDatabase::contains(kConn)) {
        QSqlDatabase::database(kConn, false).close();
        QSqlDatabase::removeDatabase(kConn);
    }
    m_open = false;
}

bool ResStatisticsParam::load(const QString& connection, CountAllCamera* into)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    QSqlQuery q(db);
    q.prepare("select value1, value2 from resstatistics where name = ?");
    bool any = false;
    for (int c = 0; c <= 8; ++c)
        for (int d = 0; d <= 8; ++d) {
            q.addBindValue(rowName(c, d));
            if (!q.exec() || !q.next())
                continue;   // a missing row stays 0
            any = true;
            CountDetect& r = rowOf(*into, c, d);
            r.ok_hour = paramdb::parseInts(q.value(0).toString(), 24);
            r.ng_hour = paramdb::parseInts(q.value(1).toString(), 24);
        }
    return any;
}

void ResStatisticsParam::clcCount()
{
    CountAllCamera& a = m_live;
    a.ok_hour.fill(0), a.ng_hour.fill(0);
    for (CountDetect& d : a.detects)
        d.ok_hour.fill(0), d.ng_hour.fill(0);
    for (int c = 0; c < 8; ++c) {
        CountCamera& cam = a.cameras[c];
        cam.ok_hour.fill(0), cam.ng_hour.fill(0);
        for (int d = 0; d < 8; ++d) {
            CountDetect& det = cam.detects[d];
            add(cam.ok_hour, det.ok_hour), add(cam.ng_hour, det.ng_hour);
            add(a.detects[d].ok_hour, det.ok_hour), add(a.detects[d].ng_hour, det.ng_hour);
            det.sum();
        }
        add(a.ok_hour, cam.ok_hour), add(a.ng_hour, cam.ng_hour);
        cam.sum();
    }
    for (CountDetect& d : a.detects)
        d.sum();
    a.sum();
}

void ResStatisticsParam::Add(int hour, bool ok, int camera, int detection)
{
    // The totals are sums of the detections: only a real camera and detection can be counted.
    if (hour < 0 || hour > 23 || camera < 0 || camera > 7 || detection < 0 || detection > 7) {
        qWarning() << "statistics: judgement outside the table ignored" << hour << camera << detection;
        return;
    }
    checkDate();
    CountDetect& r = m_live.cameras[camera].detects[detection];
    ++(ok ? r.ok_hour : r.ng_hour)[hour];
    clcCount();
    save();
    emit countsChanged();
}

bool ResStatisticsParam::save()
{
    if (!m_open && !open())
        return false;
    QSqlDatabase db = QSqlDatabase::database(kConn, false);
    // One transaction: a power cut leaves the counts before or after this judgement.
    if (!db.transaction())
        return false;
    QSqlQuery q(db);
    q.prepare("update resstatistics set value1 = ?, value2 = ? where name = ?");
    bool ok = true;
    for (int c = 0; c <= 8 && ok; ++c)
        for (int d = 0; d <= 8 && ok; ++d) {
            const CountDetect& r = rowOf(m_live, c, d);
            q.addBindValue(join(r.ok_hour));
            q.addBindValue(join(r.ng_hour));
            q.addBindValue(rowName(c, d));
            ok = q.exec();
        }
    if (ok && db.commit())
        return true;
    qWarning() << "statistics not saved:" << db.lastError().text();
    db.rollback();
    return false;
}

qint64 ResStatisticsParam::lastEight() const
{
    const QDateTime t = now();
    const QDate day = t.time().hour() < 8 ? t.date().addDays(-1) : t.date();
    return QDateTime(day, QTime(8, 0)).toSecsSinceEpoch();
}

void ResStatisticsParam::writeDayStart() const
{
    QSaveFile w(kTime);
    if (!w.open(QIODevice::WriteOnly) || w.write(QByteArray::number(m_dayStart)) < 0 || !w.commit())
        qWarning() << "restime.txt cannot be written";
}

void ResStatisticsParam::readTime()
{
    QFile f(kTime);
    bool ok = false;
    if (f.open(QIODevice::ReadOnly))
        m_dayStart = f.readAll().trimmed().toLongLong(&ok);
    if (!ok) {
        m_dayStart = lastEight();
        writeDayStart();
    }
    m_dayName = QDateTime::fromSecsSinceEpoch(m_dayStart).date().toString("yyyy-MM-dd");
}

void ResStatisticsParam::checkDate()
{
    const QDateTime t = now();
    if (t.toSecsSinceEpoch() - m_dayStart < 86400)
        return;
    if (m_retryAfter.isValid() && t < m_retryAfter)
        return;
    if (!NextDay((t.time().hour() < 8 ? t.date().addDays(-1) : t.date()).toString("yyyy-MM-dd"))) {
        m_retryAfter = t.addSecs(60);
        return;
    }
    m_retryAfter = QDateTime();
    emit daysChanged();
}

namespace {
const char* kChange = "ResStatistics.change";
} // namespace

bool ResStatisticsParam::NextDay(const QString& newName)
{
    save();
    close();
    QDir().mkpath(kArchive);
    // A day archived before (the clock went back) is never overwritten.
    QString target = QStringLiteral("%1/%2.db").arg(kArchive, m_dayName);
    for (int n = 2; QFile::exists(target); ++n)
        target = QStringLiteral("%1/%2-%3.db").arg(kArchive, m_dayName).arg(n);
    if (!daychange::note(kChange, {QString::number(lastEight()), newName}, target)) {
        qWarning() << "statistics: the day change cannot be noted in" << kChange;
        open();
        return false;
    }
    if (!finishDayChange()) {
        // The day stays whole in its file: clearing it would save zeros over it.
        qWarning() << "statistics of" << m_dayName << "could not be archived as" << target;
        if (m_archiveProblem.isEmpty()) {
            m_archiveProblem = target;
            emit archiveFailed(m_dayName, target);
        }
        open();
        return false;
    }
    m_archiveProblem.clear();
    m_live = CountAllCamera();
    if (open())
        save();
    QThread::msleep(300);
    return true;
}

bool ResStatisticsParam::finishDayChange()
{
    const std::optional<daychange::Noted> noted = daychange::read(kChange);
    if (!noted)
        return true;
    bool ok = false;
    const qint64 start = noted->fields.value(0).toLongLong(&ok);
    if (!ok || noted->fields.size() != 2) {
        QFile::remove(kChange);
        return true;
    }
    if (!daychange::archive(kFile, noted->target)) {
        QFile::remove(kChange);
        return false;
    }
    m_dayName = noted->fields.value(1);
    m_dayStart = start;
    writeDayStart();
    QFile::remove(kChange);
    return true;
}

void ResStatisticsParam::setFindCount() { m_shown = m_live; }

bool ResStatisticsParam::setFindCount(const QString& file)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "dbListRes");
        db.setDatabaseName(file);
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        CountAllCamera day;
        if (QFile::exists(file) && db.open() && load("dbListRes", &day)) {
            std::swap(m_live, day);
            clcCount();   // the sums of the day read, not stored
            m_shown = m_live;
            std::swap(m_live, day);
            ok = true;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("dbListRes");
    return ok;
}

QStringList ResStatisticsParam::archivedDays() const
{
    QStringList days = QDir(kArchive).entryList({"*.db"}, QDir::Files, QDir::Name | QDir::Reversed);
    for (QString& d : days)
        d.chop(3);
    return days;
}

int ResStatisticsParam::getCount(ShiftType shift, bool ok, int camera, int detection) const
{
    if (camera < 0 || camera > 8 || detection < 0 || detection > 8)
        return 0;
    const CountDetect& r = rowOf(m_shown, camera, detection);
    const int base = shift == Morning ? 0 : shift == Night ? 2 : 4;
    return r.sums[base + (ok ? 1 : 0)];
}

QList<int> ResStatisticsParam::getRes(ShiftType shift, bool ok, int camera, int detection) const
{
    if (camera < 0 || camera > 8 || detection < 0 || detection > 8)
        return {};
    const CountDetect& r = rowOf(m_shown, camera, detection);
    const QList<int>& hours = ok ? r.ok_hour : r.ng_hour;
    if (shift == Morning)
        return hours.mid(8, 12);
    if (shift == Night)
        return hours.mid(20, 4) + hours.mid(0, 8);
    return hours;
}
