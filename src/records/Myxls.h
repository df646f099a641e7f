#pragma once
// The result statistics as a workbook: one sheet per camera ("Camera0", ...),
// a date column and one column per hour of the production day (8:00 to
// 7:00), two rows per day (OK and NG, detections 0 and 1 summed): the live
// day first, then every archived day in date order. Written as .xlsx.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

class Myxls {
public:
    Myxls();
    ~Myxls();

    // Builds the workbook with a sheet per camera and writes it to fileName
    // (relative to the working directory). A statistics file that cannot be
    // read leaves its two rows empty; false (and error()) only when the
    // workbook itself could not be written.
    bool ImportRes(const QString& fileName, int cameras, const QDateTime& now = QDateTime::currentDateTime());
    QString error() const { return m_error; }

    // The production day a moment belongs to: before 08:00 the previous date.
    static QDate productionDay(const QDateTime& t);
    // NG list first, OK list second, 24 values by clock hour; empty when the
    // file cannot be read, zeros when it has no such row.
    QVector<QList<int>> laodRecord(const QString& file, int camera, int detection);

private:
    void setSheet(int cameras);
    void insertHead();
    void insertRes(int row, const QString& date, const QVector<QList<int>>& detection1, int camera);
    bool save();

    lxw_workbook* m_book = nullptr;
    QList<lxw_worksheet*> m_sheets;
    QVector<QList<int>> m_detection0;
    QString m_error;
};

extern Myxls* gpMyxls;
