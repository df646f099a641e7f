#pragma once
// The parameter store: SQLite files of name/value rows. PARAM.db ("dbIn"),
// RECORD.db ("dbRecord") and SN.db ("dbT") are opened once at start-up and
// stay open. Values are decimal integers separated by one blank, or a text.
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>

namespace paramdb {

inline constexpr const char* kParamConn = "dbIn";
inline constexpr const char* kRecordConn = "dbRecord";
inline constexpr const char* kSerialConn = "dbT";

// Shows a start-up failure (always English: the language is not loaded yet)
// and waits for the operator.
using Warn = std::function<void(int message)>;

enum class Outcome { Restored, Unrecoverable };

// Opens PARAM.db, RECORD.db and SN.db in that order. A file that is missing,
// is not a database or lacks the tables the station reads (sysparam and
// cammer0..7; RECORD; the serial rows) is kept aside as "<name>.broken-<time>",
// replaced by its factory copy, and a reboot is requested through the host;
// the factory copy is then opened so the process can go on until the reboot.
// When the factory copy itself is missing or unusable nothing is replaced and
// no reboot is asked (it would only loop): gDatabaseFault is set and the file
// is named in *unrecoverable. Returns true when all three opened as they were.
bool openAll(const Warn& warn, QStringList* unrecoverable = nullptr);

// The factory PARAM.db replaced the operator's (kept aside): the station has
// no regions and comes up stopped with clamping prohibited until the operator
// starts detection. The marker file survives the reboot that follows.
QString factoryRestoredMarker();
bool factoryRestored();
// The operator started detection on the factory set-up: the marker goes.
// Returns whether there was one.
bool acknowledgeFactoryRestore();

// Tools that read a station's directory: files are opened read-only and
// missing keys are not created.
void setReadOnly(bool on);
bool readOnly();

// Closes SN.db, PARAM.db and RECORD.db, in that order.
void closeAll();

QSqlDatabase paramDb();
QSqlDatabase serialDb();

// Reads the value of one key; false when there is no row (or the table is missing).
bool readValue(const QSqlDatabase& db, const QString& table, const QString& key, QString* value);

// Splits a stored list into count integers: missing trailing numbers read 0,
// extra numbers are ignored, and reading stops at the first token that is not
// a number (it and everything after it read 0).
QList<int> parseInts(const QString& value, int count);
QString joinInts(const QList<int>& values);

// Makes sure a row exists; inserts it with defaultValue when it does not.
// Returns true when the row exists afterwards.
bool ensureKey(const QSqlDatabase& db, const QString& table, const QString& key,
               const QString& defaultValue = QStringLiteral("0"));

// Updates an existing row; a key without a row changes nothing (returns false).
bool writeValue(const QSqlDatabase& db, const QString& table, const QString& key, const QString& value);

// Writes many keys in one transaction; with ensure, each key is created first
// when missing so no value is dropped. Rolls back and returns false on failure.
bool writeValues(const QSqlDatabase& db, const QString& table,
                 const QList<QPair<QString, QString>>& rows, bool ensure);

// Table names are never taken from outside; this refuses anything but a plain identifier.
bool isPlainTableName(const QString& table);

} // namespace paramdb
