// The cycle-log exporter the station starts as ./cnt_net/xls: reads the
// queries of sql.txt (one per day) in the working directory, takes each
// day's rows from that day's log file and writes them into one workbook.
// Its last line is "<workbook path> export finished"; on any failure it
// prints "error: ..." and exits non-zero, and no workbook is left behind.
#include "DetectCycleSQL.h"
#include "Globals.h"
#include "Messages.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <xlsxwriter.h>

namespace {
int fail(const QString& why)
{
    QTextStream(stdout) << "error: " << why << Qt::endl;
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LoadLanStr();
    const QStringList args = app.arguments();
    const int lanAt = int(args.indexOf("--lan"));
    if (lanAt > 0 && lanAt + 1 < args.size())
        gLan = qBound(0, args[lanAt + 1].toInt(), 2);

    QFile sql("sql.txt");
    if (!sql.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail("sql.txt cannot be read: " + sql.errorString());
    const QDate logDay = DetectCycleSQL::storedLogDate();
    QList<detectCycleInfo> rows;
    int days = 0;
    for (const QString& line : QString::fromUtf8(sql.readAll()).split('\n', Qt::SkipEmptyParts)) {
        QString from, to;
        if (!DetectCycleSQL::parseQuery(line, &from, &to))
            return fail("sql.txt holds a line that is not an export query: " + line.left(120));
        rows += DetectCycleSQL::rowsBetween(DetectCycleSQL::fileOfDay(from.left(10), logDay), from, to);
        ++days;
    }
    if (days == 0)
        return fail("sql.txt holds no query");

    const QString name = QDir::current().absoluteFilePath(
        QStringLiteral("DetectCycle_%1.xlsx").arg(QDateTime::currentDateTime().toString("yyyy-MM-dd_hh.mm.ss")));
    lxw_workbook* book = workbook_new(QFile::encodeName(name).constData());
    if (!book)
        return fail("cannot create " + name);
    lxw_worksheet* sheet = workbook_add_worksheet(book, "DetectCycle");
    worksheet_write_string(sheet, 0, 0, LanStr(1536).toUtf8().constData(), nullptr);
    worksheet_write_string(sheet, 0, 1, LanStr(1525).toUtf8().constData(), nullptr);
    worksheet_set_column(sheet, 0, 0, 26, nullptr);
    worksheet_set_column(sheet, 1, 1, 12, nullptr);
    QList<double> periods;
    for (int i = 0; i < rows.size(); ++i) {
        worksheet_write_string(sheet, lxw_row_t(i + 1), 0, rows[i].roundstart.toUtf8().constData(), nullptr);
        worksheet_write_number(sheet, lxw_row_t(i + 1), 1, rows[i].roundtime, nullptr);
        periods << rows[i].roundtime;
    }
    // The figures the cycle page shows, for the whole range.
    const DetectCycleSQL::Summary s = DetectCycleSQL::summarize(periods);
    lxw_worksheet* summary = workbook_add_worksheet(book, "Summary");
    const char* labels[] = {"cycles", "min", "median", "max"};
    const double values[] = {double(s.count), s.min, s.median, s.max};
    for (int i = 0; i < 4; ++i) {
        worksheet_write_string(summary, lxw_row_t(i), 0, labels[i], nullptr);
        worksheet_write_number(summary, lxw_row_t(i), 1, values[i], nullptr);
    }
    const lxw_error rc = workbook_close(book);
    if (rc != LXW_NO_ERROR) {
        QFile::remove(name);
        return fail(QStringLiteral("the workbook could not be written: %1").arg(QString::fromUtf8(lxw_strerror(rc))));
    }
    QTextStream(stdout) << name << " export finished (" << rows.size() << " cycles, " << days << " days)" << Qt::endl;
    return 0;
}
