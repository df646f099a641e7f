#include "ParamDb.h"

#include "Globals.h"
#include "Host.h"
#include "Messages.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QtDebug>

namespace paramdb {

namespace {

// What makes a file the station's: the tables (and rows) it reads.
using Check = bool (*)(const QSqlDatabase& db, QString* why);

bool hasTable(const QSqlDatabase& db, const QString& table)
{
    QSqlQuery q(db);
    q.prepare("select count(*) from sqlite_master where type='table' and name=?");
    q.addBindValue(table);
    return q.exec() && q.next() && q.value(0).toInt() > 0;
}

bool countRows(const QSqlDatabase& db, const QString& sql, int* n)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        return false;
    *n = q.value(0).toInt();
    return true;
}

bool paramTables(const QSqlDatabase& db, QString* why)
{
    int rows = 0;
    if (!hasTable(db, "sysparam") || !countRows(db, "select count(*) from sysparam", &rows)) {
        *why = "no sysparam table";
        return false;
    }
    if (rows == 0) {
        *why = "the sysparam table is empty";
        return false;
    }
    for (int c = 0; c < kMaxCameras; ++c) {
        if (!hasTable(db, QStringLiteral("cammer%1").arg(c))) {
            *why = QStringLiteral("no cammer%1 table").arg(c);
            return false;
        }
    }
    return true;
}

bool recordTable(const QSqlDatabase& db, QString* why)
{
    QSqlQuery q(db);
    if (!q.exec("select recordtime, recordpassword, remarks from RECORD limit 0")) {
        *why = "no RECORD table with its columns";
        return false;
    }
    return true;
}

bool serialRows(const QSqlDatabase& db, QString* why)
{
    int rows = 0;
    if (!hasTable(db, "sysparam") ||
        !countRows(db, "select count(*) from sysparam where name like 'serialNB%'", &rows)) {
        *why = "no sysparam table";
        return false;
    }
    if (rows == 0) {
        *why = "no camera serial rows";
        return false;
    }
    return true;
}

struct DbFile {
    const char* conn;
    const char* file;
    const char* factory;  // copied over the file when it cannot be used
    int message;          // shown in English before the recovery
    int waitMs;
    Check check;
};

const DbFile kFiles[] = {
    {kParamConn, "PARAM.db", "./paraGroup/default/PARAM.db", 160, 100, paramTables},
    {kRecordConn, "RECORD.db", "RECORDNULL.db", 135, 300, recordTable},
    {kSerialConn, "SN.db", "./paraGroup/default/SN.db", 160, 100, serialRows},
};

bool g_readOnly = false;

// Whether path is a database with the station's tables. SQLite would create a
// missing file and happily opens a zero-length one; neither counts.
bool usable(const QString& conn, const QString& path, Check check, QString* why)
{
    QSqlDatabase db = QSqlDatabase::contains(conn) ? QSqlDatabase::database(conn, false)
                                                   : QSqlDatabase::addDatabase("QSQLITE", conn);
    db.close();
    db.setDatabaseName(path);
    db.setConnectOptions(g_readOnly ? "QSQLITE_OPEN_READONLY" : QString());
    if (!QFile::exists(path)) {
        *why = "missing";
        return false;
    }
    if (!db.open()) {
        *why = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    if (!q.exec("select count(*) from sqlite_master") || !q.next()) {
        *why = "not a database: " + q.lastError().text();
        db.close();
        return false;
    }
    if (!check(db, why)) {
        db.close();
        return false;
    }
    return true;
}

bool openChecked(const DbFile& f)
{
    QString why;
    if (usable(f.conn, f.file, f.check, &why))
        return true;
    qWarning() << f.file << "cannot be used:" << why;
    return false;
}

// The factory copy is checked before anything is replaced: restoring a broken
// copy would reboot into the same failure for ever.
bool factoryUsable(const DbFile& f)
{
    const QString probe = QStringLiteral("%1-factory-check").arg(f.conn);
    QString why;
    const bool ok = usable(probe, f.factory, f.check, &why);
    QSqlDatabase::database(probe, false).close();
    QSqlDatabase::removeDatabase(probe);
    if (!ok)
        qCritical() << "factory copy" << f.factory << "cannot be used:" << why;
    return ok;
}

Outcome recover(const DbFile& f, const Warn& warn)
{
    if (warn)
        warn(f.message);
    if (!factoryUsable(f))
        return Outcome::Unrecoverable;
    if (QFile::exists(f.file)) {
        const QString aside = QStringLiteral("%1.broken-%2")
                                  .arg(f.file, QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
        if (!QFile::rename(f.file, aside)) {
            qCritical() << f.file << "could not be kept aside; it is left in place";
            return Outcome::Unrecoverable;
        }
        qWarning() << f.file << "kept aside as" << aside;
    }
    if (!QFile::copy(f.factory, f.file)) {
        qCritical() << "factory copy" << f.factory << "could not be restored to" << f.file;
        return Outcome::Unrecoverable;
    }
    QFile::setPermissions(f.file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (f.conn == kParamConn) {
        QSaveFile marker(factoryRestoredMarker());
        if (!marker.open(QIODevice::WriteOnly) ||
            marker.write(QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() + '\n') < 0 || !marker.commit())
            qCritical() << "the factory restore could not be marked; the next start will not wait for the operator";
    }
    if (!openChecked(f)) {
        qCritical() << f.file << "is still unusable after the factory copy";
        return Outcome::Unrecoverable;
    }
    QThread::msleep(f.waitMs);
    platform::Host::instance().reboot();
    gRebootPending = true;
    return Outcome::Restored;
}

} // namespace

QString factoryRestoredMarker() { return QStringLiteral("factory-restored.txt"); }
bool factoryRestored() { return QFile::exists(factoryRestoredMarker()); }
bool acknowledgeFactoryRestore() { return QFile::remove(factoryRestoredMarker()); }

bool openAll(const Warn& warn, QStringList* unrecoverable)
{
    bool clean = true;
    for (const DbFile& f : kFiles) {
        if (openChecked(f))
            continue;
        clean = false;
        if (recover(f, warn) == Outcome::Unrecoverable) {
            gDatabaseFault = true;
            if (unrecoverable)
                *unrecoverable << f.file;
        }
    }
    return clean;
}

void setReadOnly(bool on) { g_readOnly = on; }
bool readOnly() { return g_readOnly; }

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
    if (!isPlainTableName(table) || g_readOnly)
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
