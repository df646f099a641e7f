#include "ParamDb.h"

#include "Globals.h"
#include "Host.h"
#include "Messages.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QtDebug>

namespace paramdb {

namespace {

struct DbFile {
    const char* conn;
    const char* file;
    const char* factory;  // copied over the file when it cannot be opened
    int message;          // shown in English before the recovery
    int waitMs;
};

const DbFile kFiles[] = {
    {kParamConn, "PARAM.db", "./paraGroup/default/PARAM.db", 160, 100},
    {kRecordConn, "RECORD.db", "RECORDNULL.db", 135, 300},
    {kSerialConn, "SN.db", "./paraGroup/default/SN.db", 160, 100},
};

// A file SQLite would silently create, or one that is not a database, does
// not count as opened.
bool openChecked(const DbFile& f)
{
    QSqlDatabase db = QSqlDatabase::contains(f.conn) ? QSqlDatabase::database(f.conn, false)
                                                     : QSqlDatabase::addDatabase("QSQLITE", f.conn);
    db.close();
    db.setDatabaseName(f.file);
    if (!QFile::exists(f.file)) {
        qWarning() << f.file << "is missing";
        return false;
    }
    if (!db.open()) {
        qWarning() << f.file << "does not open:" << db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    if (!q.exec("select count(*) from sqlite_master") || !q.next()) {
        qWarning() << f.file << "is not a readable database:" << q.lastError().text();
        db.close();
        return false;
    }
    return true;
}

void recover(const DbFile& f, const Warn& warn)
{
    if (warn)
        warn(f.message);
    if (QFile::exists(f.file)) {
        const QString aside = QStringLiteral("%1.broken-%2")
                                  .arg(f.file, QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
        if (QFile::rename(f.file, aside))
            qWarning() << f.file << "kept aside as" << aside;
        else
            qCritical() << f.file << "could not be kept aside; leaving it in place";
    }
    if (!QFile::exists(f.file)) {
        if (QFile::copy(f.factory, f.file))
            QFile::setPermissions(f.file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                              QFile::ReadOther);
        else
            qCritical() << "factory copy" << f.factory << "could not be restored to" << f.file;
    }
    QThread::msleep(f.waitMs);
    platform::Host::instance().reboot();
    gRebootPending = true;
    if (!openChecked(f))
        qCritical() << f.file << "is still unusable after the factory copy";
}

} // namespace

bool openAll(const Warn& warn)
{
    bool clean = true;
    for (const DbFile& f : kFiles) {
        if (openChecked(f))
            continue;
        clean = false;
        recover(f, warn);
    }
    return clean;
}

void closeAll()
{
    for (const char* conn : {kSerialConn, kParamConn, kRecordConn}) {
        if (QSqlDatabase::contains(conn))
            QSqlDatabase::database(conn, false).close();
    }
}

QSqlDatabase paramDb() { return QSqlDatabase::database(kParamConn, false); }
QSqlDatabase serialDb() { return QSqlDatabase::database(kSerialConn, false); }

bool isPlainTableName(const QString& table)
{
    static const QRegularExpression re("^[A-Za-z_][A-Za-z0-9_]*$");
    return re.match(table).hasMatch();
}

bool readValue(const QSqlDatabase& db, const QString& table, const QString& key, QString* value)
{
    if (!isPlainTableName(table))
        return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("select value from %1 where name=?").arg(table));
    q.addBindValue(key);
    if (!q.exec() || !q.next())
        return false;
    if (value)
        *value = q.value(0).toString();
    return true;
}

QList<int> parseInts(const QString& value, int count)
{
    QList<int> out(count, 0);
    const QStringList tokens = value.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    for (int i = 0; i < count && i < tokens.size(); ++i) {
        bool ok = false;
        const int v = tokens[i].toInt(&ok);
        if (!ok)
            break;  // a failed read ends the stream; the rest stays 0
        out[i] = v;
    }
    return out;
}

QString joinInts(const QList<int>& values)
{
    QStringList parts;
    parts.reserve(values.size());
    for (int v : values)
        parts << QString::number(v);
    return parts.join(' ');
}

bool ensureKey(const QSqlDatabase& db, const QString& table, const QString& key, const QString& defaultValue)
{
    if (readValue(db, table, key, nullptr))
        return true;
    if (!isPlainTableName(table))
        return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into %1 values(?, ?)").arg(table));
    q.addBindValue(key);
    q.addBindValue(defaultValue);
    if (!q.exec()) {
        qWarning() << "cannot create key" << key << "in" << table << q.lastError().text();
        return false;
    }
    return true;
}

bool writeValue(const QSqlDatabase& db, const QString& table, const QString& key, const QString& value)
{
    if (!isPlainTableName(table))
        return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("update %1 set value=? where name=?").arg(table));
    q.addBindValue(value);
    q.addBindValue(key);
    if (!q.exec()) {
        qWarning() << "cannot write key" << key << "in" << table << q.lastError().text();
        return false;
    }
    return q.numRowsAffected() > 0;
}

bool writeValues(const QSqlDatabase& db, const QString& table,
                 const QList<QPair<QString, QString>>& rows, bool ensure)
{
    QSqlDatabase conn = db;
    if (!conn.transaction()) {
        qWarning() << "cannot start a transaction on" << conn.connectionName() << conn.lastError().text();
        return false;
    }
    bool ok = true;
    for (const auto& [key, value] : rows) {
        if (ensure && !ensureKey(conn, table, key)) {
            ok = false;
            break;
        }
        if (!writeValue(conn, table, key, value) && ensure) {
            ok = false;
            break;
        }
    }
    if (ok && conn.commit())
        return true;
    qWarning() << "parameters not saved to" << table << conn.lastError().text();
    conn.rollback();
    return false;
}

} // namespace paramdb
