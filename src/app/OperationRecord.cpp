#include "OperationRecord.h"

#include "DayChange.h"
#include "Globals.h"
#include "Messages.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTime>
#include <QtDebug>

namespace {
const char* kConn = "dbRecord";
const char* kDateFmt = "yyyy-MM-dd";
} // namespace

OperationRecord& OperationRecord::instance()
{
    static OperationRecord rec;
    return rec;
}

QString OperationRecord::levelLabel()
{
    switch (gPasswordLevel.load()) {
    case 2: return LanStr(1003);
    case 1: return LanStr(1004);
    default: return LanStr(1005);
    }
}

void OperationRecord::loadRecordDate()
{
    QFile f("time.txt");
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (QDate::fromString(line, kDateFmt).isValid()) {
            m_date = line;
            return;
        }
        qWarning() << "time.txt holds no date:" << line << "- starting a new record period";
    }
    m_date = today().toString(kDateFmt);
    writeDateFile();
}

void OperationRecord::writeDateFile()
{
    QSaveFile f("time.txt");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning() << "time.txt cannot be written:" << f.errorString();
        return;
    }
    f.write(m_date.toUtf8() + '\n');
    if (!f.commit())
        qWarning() << "time.txt cannot be written:" << f.errorString();
}

bool OperationRecord::ensureOpen()
{
    QSqlDatabase db = QSqlDatabase::contains(kConn) ? QSqlDatabase::database(kConn, false)
                                                    : QSqlDatabase::addDatabase("QSQLITE", kConn);
    if (db.isOpen())
        return true;
    // SQLite would make an empty file; a missing record is not ours to invent.
    if (!QFile::exists("RECORD.db"))
        return false;
    db.setDatabaseName(QDir::current().filePath("RECORD.db"));
    if (!db.open()) {
        qWarning() << "RECORD.db cannot be opened:" << db.lastError().text();
        return false;
    }
    return true;
}

QString OperationRecord::who() const
{
    const QString account = m_account ? m_account() : QString();
    return account.isEmpty() ? levelLabel() : levelLabel() + QLatin1Char(' ') + account;
}

bool OperationRecord::InsertRecord(const QString& text)
{
    const QString time = QTime::currentTime().toString("hh.mm.ss");
    const QString label = who();
    if (m_readOnly) {
        if (m_forward)
            m_forward(time, label, text);
        return false;
    }
    if (!ensureOpen())
        return false;
    if (m_forward)
        m_forward(time, label, text);
    QSqlQuery q(QSqlDatabase::database(kConn, false));
    q.prepare("INSERT INTO RECORD(recordtime, recordpassword, remarks) VALUES(?, ?, ?)");
    q.addBindValue(time);
    q.addBindValue(label);
    q.addBindValue(text);
    if (!q.exec()) {
        qWarning() << "operation record not stored:" << q.lastError().text() << text;
        return false;
    }
    return true;
}

bool OperationRecord::ClearRecord()
{
    if (!ensureOpen())
        return false;
    QSqlQuery q(QSqlDatabase::database(kConn, false));
    return q.exec("DELETE FROM RECORD");
}

namespace {
const char* kChange = "RECORD.change";
} // namespace

void OperationRecord::SlotCheckDate()
{
    finishDayChange();
    const QString now = today().toString(kDateFmt);
    if (now == m_date)
        return;
    QDir dir(QDir::current().absoluteFilePath("RECORD"));
    if (!dir.exists() && !QDir().mkpath(dir.path()))
        qWarning() << "cannot create" << dir.path();
    // Never overwrite an earlier archive of the same day.
    QString target = dir.filePath(m_date + ".db");
    for (int n = 1; QFile::exists(target); ++n)
        target = dir.filePath(QStringLiteral("%1_%2.db").arg(m_date).arg(n));
    if (!daychange::note(kChange, {now}, target)) {
        qWarning() << "record archive failed:" << kChange << "cannot be written - keeping RECORD.db in use";
        return;
    }
    finishDayChange();
}

void OperationRecord::finishDayChange()
{
    const std::optional<daychange::Noted> noted = daychange::read(kChange);
    if (!noted)
        return;
    const QString target = noted->target;
    if (QSqlDatabase::contains(kConn))
        QSqlDatabase::database(kConn, false).close();
    if (!daychange::archive("RECORD.db", target)) {
        qWarning() << "record archive failed: RECORD.db could not be moved to" << target << "- keeping it in use";
        QFile::remove(kChange);
        return;
    }
    if (!QFile::exists("RECORD.db")) {
        if (!daychange::copyWhole("RECORDNULL.db", "RECORD.db")) {
            qWarning() << "record archive failed: RECORDNULL.db could not be copied - putting the old record back";
            if (!QFile::rename(target, "RECORD.db"))
                qCritical() << "the old record stays at" << target;
            QFile::remove(kChange);
            return;
        }
        QFile::setPermissions("RECORD.db", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    m_date = noted->fields.value(0);
    writeDateFile();
    QFile::remove(kChange);
}
