#include "Myxls.h"

#include "Messages.h"
#include "ParamDb.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtDebug>

#include <xlsxwriter.h>

Myxls* gpMyxls = nullptr;

namespace {
const char* kConn = "dbXls";
const char* kLive = "ResStatistics.db";
const char* kArchive = "./ResStatistics";

// Column j (1..24) is the clock hour (j + 7) mod 24: 8:00 first.
int hourOfColumn(int column) { return (column + 7) % 24; }
} // namespace

Myxls::Myxls()
{
    if (!QSqlDatabase::contains(kConn))
        QSqlDatabase::addDatabase("QSQLITE", kConn);
}

Myxls::~Myxls()
{
    if (m_book)
        workbook_close(m_book);
    if (QSqlDatabase::contains(kConn)) {
        QSqlDatabase::database(kConn, false).close();
        QSqlDatabase::removeDatabase(kConn);
    }
}

QDate Myxls::productionDay(const QDateTime& t)
{
    return t.time().hour() <= 7 ? t.date().addDays(-1) : t.date();
}

QVector<QList<int>> Myxls::laodRecord(const QString& file, int camera, int detection)
{
    QVector<QList<int>> lists;
    if (!QFile::exists(file)) {
        qWarning() << "statistics export: no file" << file;
        return lists;
    }
    QSqlDatabase db = QSqlDatabase::database(kConn, false);
    db.close();
    db.setDatabaseName(file);
    db.setConnectOptions("QSQLITE_OPEN_READONLY");
    if (!db.open()) {
        qWarning() << "statistics export: cannot open" << file;
        return lists;
    }
    QSqlQuery q(db);
    q.prepare("select value1, value2 from resstatistics where name = ?");
    q.addBindValue(QStringLiteral("C%1_D%2").arg(camera).arg(detection));
    if (!q.exec()) {
        qWarning() << "statistics export: unreadable" << file;
        db.close();
        return lists;
    }
    QList<int> ok(24, 0), ng(24, 0);
    if (q.next()) {
        ok = paramdb::parseInts(q.value(0).toString(), 24);
        ng = paramdb::parseInts(q.value(1).toString(), 24);
    }
    q.finish();
    db.close();
    lists << ng << ok;
    return lists;
}

void Myxls::setSheet(int cameras)
{
    m_sheets.clear();
    for (int c = 0; c < cameras; ++c)
        m_sheets << workbook_add_worksheet(m_book, QStringLiteral("Camera%1").arg(c).toUtf8().constData());
}

void Myxls::insertHead()
{
    const QByteArray date = LanStr(1336).toUtf8();
    for (lxw_worksheet* s : std::as_const(m_sheets)) {
        worksheet_write_string(s, 0, 0, date.constData(), nullptr);
        for (int col = 1; col <= 24; ++col)
            worksheet_write_string(s, 0, lxw_col_t(col), QStringLiteral("%1:00").arg(hourOfColumn(col)).toUtf8().constData(),
                                   nullptr);
        worksheet_set_column(s, 0, 0, 16, nullptr);
    }
}

void Myxls::insertRes(int row, const QString& date, const QVector<QList<int>>& detection1, int camera)
{
    lxw_worksheet* s = m_sheets.value(camera);
    if (!s || m_detection0.size() != 2 || detection1.size() != 2)
        return;
    worksheet_write_string(s, lxw_row_t(row), 0, (date + "-ok").toUtf8().constData(), nullptr);
    worksheet_write_string(s, lxw_row_t(row + 1), 0, (date + "-ng").toUtf8().constData(), nullptr);
    for (int col = 1; col <= 24; ++col) {
        const int h = hourOfColumn(col);
        worksheet_write_number(s, lxw_row_t(row), lxw_col_t(col), m_detection0[1][h] + detection1[1][h], nullptr);
        worksheet_write_number(s, lxw_row_t(row + 1), lxw_col_t(col), m_detection0[0][h] + detection1[0][h], nullptr);
    }
}

bool Myxls::save()
{
    const lxw_error rc = workbook_close(m_book);
    m_book = nullptr;
    if (rc != LXW_NO_ERROR) {
        m_error = QString::fromUtf8(lxw_strerror(rc));
        return false;
    }
    return true;
}

bool Myxls::ImportRes(const QString& fileName, int cameras, const QDateTime& now)
{
    m_error.clear();
    if (m_book)
        workbook_close(m_book);
    m_book = workbook_new(QFile::encodeName(fileName).constData());
    if (!m_book) {
        m_error = QStringLiteral("cannot create %1").arg(fileName);
        return false;
    }
    setSheet(cameras);
    insertHead();
    const QString today = productionDay(now).toString("yyyy-MM-dd");
    const QDir archive(kArchive);
    const QStringList days = archive.entryList({"*.db"}, QDir::Files, QDir::Name);
    for (int c = 0; c < cameras; ++c) {
        m_detection0 = laodRecord(kLive, c, 0);
        insertRes(1, today, laodRecord(kLive, c, 1), c);
        for (int k = 0; k < days.size(); ++k) {
            QString date = days[k];
            date.chop(3);
            const QString file = QStringLiteral("%1//%2.db").arg(archive.absolutePath(), date);
            m_detection0 = laodRecord(file, c, 0);
            insertRes(2 * k + 3, date, laodRecord(file, c, 1), c);
        }
    }
    return save();
}
