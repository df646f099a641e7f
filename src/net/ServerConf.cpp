#include "ServerConf.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace serverconf {
namespace {
const char* kRowNames[kRows] = {"serverip_info", "serverip_file", "serverport_info", "serverport_file"};

// A connection of its own for each use, removed afterwards: the client's
// database is not one of the station's.
template <typename F>
bool withDb(QString* error, F&& use)
{
    if (!QFile::exists(path())) {
        if (error)
            *error = path();
        return false;
    }
    const QString name = "sysconf-" + QUuid::createUuid().toString(QUuid::Id128);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path());
        if (!db.open()) {
            if (error)
                *error = db.lastError().text();
        } else {
            ok = use(db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}
} // namespace

const char* rowName(int row) { return row >= 0 && row < kRows ? kRowNames[row] : ""; }
QString path() { return QStringLiteral("./cnt_net/sysconf.db"); }

bool read(QString values[kRows], QString* error)
{
    return withDb(error, [&](QSqlDatabase& db) {
        bool all = true;
        for (int i = 0; i < kRows; ++i) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("select 值 from info_sysconf where 信息名称=?"));
            q.addBindValue(QString::fromLatin1(kRowNames[i]));
            if (q.exec() && q.next()) {
                values[i] = q.value(0).toString();
            } else {
                values[i].clear();
                all = false;
                if (error)
                    *error = q.lastError().isValid() ? q.lastError().text() : QString::fromLatin1(kRowNames[i]);
            }
        }
        return all;
    });
}

bool write(int row, const QString& value, QString* error)
{
    if (row < 0 || row >= kRows)
        return false;
    return withDb(error, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("update info_sysconf set 值=? where 信息名称=?"));
        q.addBindValue(value);
        q.addBindValue(QString::fromLatin1(kRowNames[row]));
        if (!q.exec() || q.numRowsAffected() != 1) {
            if (error)
                *error = q.lastError().isValid() ? q.lastError().text() : QString::fromLatin1(kRowNames[row]);
            return false;
        }
        return true;
    });
}

} // namespace serverconf
