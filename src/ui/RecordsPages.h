#pragma once
// The records pages: the result statistics (counts per camera, detection,
// shift and hour, a bar per hour) and the detection cycle log (a day's
// cycles as a chart and a table, with min / median / max). Both export to
// the USB disk.
#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QListWidget;
class QTableWidget;
class ResStatisticsParam;
class DiskCommands;

// OK and NG per hour as side-by-side bars, the hour under each pair.
class HourBars : public QWidget {
    Q_OBJECT
public:
    explicit HourBars(QWidget* parent = nullptr);
    void setData(const QList<int>& hours, const QList<int>& ok, const QList<int>& ng);
    QSize sizeHint() const override { return {900, 320}; }
    const QList<int>& hours() const { return m_hours; }
    // Where the bars of slot i are drawn.
    QRectF slotRect(int i) const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QList<int> m_hours, m_ok, m_ng;
};

// Cycle periods of a day against the time of day, with the median as a line.
class CycleChart : public QWidget {
    Q_OBJECT
public:
    explicit CycleChart(QWidget* parent = nullptr);
    // seconds since midnight, period in seconds
    void setData(const QList<QPointF>& points, double median);
    QSize sizeHint() const override { return {900, 320}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QList<QPointF> m_points;
    double m_median = 0;
};

class StatisticsWidget : public QWidget {
    Q_OBJECT
public:
    StatisticsWidget(ResStatisticsParam* stats, DiskCommands* disk, QWidget* parent = nullptr);

    // Shows the live counts or an archived day (row of the day list).
    void showDay(int row);
    void refresh();
    // The export command: the hourly counts as a workbook onto the USB disk.
    bool SlotExportData();

    // What the page shows (tests read them).
    QString countsText() const;
    HourBars* bars() const { return m_bars; }
    QListWidget* days() const { return m_days; }
    QComboBox* camera() const { return m_camera; }
    QComboBox* detection() const { return m_detection; }
    QComboBox* shift() const { return m_shift; }

private:
    void fillDays();
    void relabel();

    ResStatisticsParam* m_stats;
    DiskCommands* m_disk;
    QListWidget* m_days;
    QComboBox *m_camera, *m_detection, *m_shift;
    QLabel* m_counts;
    HourBars* m_bars;
};

class DetectCycleWidget : public QWidget {
    Q_OBJECT
public:
    DetectCycleWidget(DiskCommands* disk, QWidget* parent = nullptr);

    // Shows the day of the date list's row (the last row is today).
    void showDay(int row);
    void fillDays();
    // The export: a time range through the exporter program onto the USB disk.
    bool exportData();
    // Tests: the range the operator would choose.
    std::function<bool(QDateTime* start, QDateTime* end)> chooseRange;

    QString summaryText() const;
    QTableWidget* table() const { return m_table; }
    QListWidget* days() const { return m_days; }
    CycleChart* chart() const { return m_chart; }

private:
    DiskCommands* m_disk;
    QListWidget* m_days;
    QTableWidget* m_table;
    CycleChart* m_chart;
    QLabel* m_summary;
};

// The operation record: today's and each archived day's rows, newest first;
// today's can be cleared with its protection.
class RecordWidget : public QWidget {
    Q_OBJECT
public:
    explicit RecordWidget(QWidget* parent = nullptr);
    void fillDays();
    void showDay(int row);
    bool clearRecord();
    QTableWidget* table() const { return m_table; }
    QListWidget* days() const { return m_days; }
    // The password level of the one who clears (the window asks for it).
    std::function<int()> checkPassword;

private:
    static bool ask(const QString& question);
    QListWidget* m_days;
    QTableWidget* m_table;
};
