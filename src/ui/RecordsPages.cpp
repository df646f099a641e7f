#include "RecordsPages.h"

#include "Boxes.h"
#include "DetectCycleSQL.h"
#include "DiskCommands.h"
#include "Globals.h"
#include "Language.h"
#include "Messages.h"
#include "Myxls.h"
#include "OperationRecord.h"
#include "ResStatistics.h"

#include <QComboBox>
#include <QDateTime>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtDebug>
#include <QScopeGuard>
#include <cmath>

namespace {
QFont pageFont(int px)
{
    QFont f;
    f.setPixelSize(px);
    return f;
}

QPushButton* pageButton(int text, QWidget* parent) { return lanButton(parent, text, nullptr, 20, {140, 52}); }

const char* kPageStyle =
    "QWidget{background:#20242c;color:white;} QListWidget,QTableWidget,QComboBox{background:#2b3340;}"
    "QPushButton{background:#34506e;border-radius:6px;}"
    "QListWidget::item{min-height:52px;} QComboBox{min-height:52px;}";

// A scale step that gives about five grid lines; counts step by whole numbers.
double niceStep(double max, bool whole)
{
    if (max <= 0)
        return 1;
    const double raw = std::max(max / 5, whole ? 1.0 : 0.0);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * mag)
            return m * mag;
    return 10 * mag;
}

QRectF plotArea(const QRect& all) { return QRectF(all.left() + 56, all.top() + 16, all.width() - 84, all.height() - 52); }

// Frame, horizontal grid and its labels for values up to max; returns the
// plot area, top the value at its upper edge.
QRectF drawAxes(QPainter& p, const QRect& all, double max, double* top, bool whole)
{
    const double step = niceStep(max, whole);
    *top = std::ceil(max / step) * step;
    const QRectF area = plotArea(all);
    p.setFont(pageFont(14));
    for (double v = 0; v <= *top + 1e-9; v += step) {
        const double y = area.bottom() - v / *top * area.height();
        p.setPen(QColor(70, 80, 96));
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        p.setPen(QColor(190, 200, 210));
        p.drawText(QRectF(all.left(), y - 10, 50, 20), Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    p.setPen(QColor(190, 200, 210));
    p.drawLine(area.bottomLeft(), area.bottomRight());
    return area;
}

// The frame both records pages share: the day list at the left, the title
// above the page's own content, and Export / Back at the bottom.
struct PageFrame {
    QListWidget* days;
    QVBoxLayout* right;
};

PageFrame framePage(QWidget* page, const char* name, int title)
{
    page->setObjectName(name);
    page->setStyleSheet(kPageStyle);
    auto* lay = new QHBoxLayout(page);
    auto* days = new QListWidget(page);
    days->setFont(pageFont(18));
    days->setFixedWidth(200);
    lay->addWidget(days);
    auto* right = new QVBoxLayout;
    auto* label = new QLabel(page);
    setLan(label, title);
    label->setFont(pageFont(26));
    right->addWidget(label);
    lay->addLayout(right, 1);
    return {days, right};
}

// Adds the page's action (Export unless told) and Back; Back hides the page.
// Returns the action's button.
QPushButton* finishPage(QWidget* page, const PageFrame& frame, int action = 1527)
{
    auto* buttons = new QHBoxLayout;
    auto* exportButton = pageButton(action, page);
    auto* back = pageButton(1019, page);
    buttons->addStretch();
    buttons->addWidget(exportButton);
    buttons->addWidget(back);
    frame.right->addLayout(buttons);
    QObject::connect(back, &QPushButton::clicked, page, &QWidget::hide);
    return exportButton;
}
} // namespace

// --- charts -------------------------------------------------------------------------------

HourBars::HourBars(QWidget* parent) : QWidget(parent) { setMinimumHeight(240); }

void HourBars::setData(const QList<int>& hours, const QList<int>& ok, const QList<int>& ng)
{
    m_hours = hours, m_ok = ok, m_ng = ng;
    update();
}

QRectF HourBars::slotRect(int i) const
{
    const QRectF area = plotArea(rect());
    const double slot = area.width() / std::max<qsizetype>(1, m_hours.size());
    return QRectF(area.left() + i * slot, area.top(), slot, area.height());
}

void HourBars::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(32, 36, 44));
    int max = 1;
    for (int i = 0; i < m_ok.size() && i < m_ng.size(); ++i)
        max = std::max({max, m_ok[i], m_ng[i]});
    double top = 1;
    const QRectF area = drawAxes(p, rect(), max, &top, true);
    const int n = int(m_hours.size());
    if (n == 0)
        return;
    const double slot = area.width() / n;
    const double bar = slot * 0.36;
    for (int i = 0; i < n; ++i) {
        const double x = area.left() + i * slot + slot * 0.14;
        const int ok = m_ok.value(i), ng = m_ng.value(i);
        const double hOk = ok / top * area.height(), hNg = ng / top * area.height();
        p.fillRect(QRectF(x, area.bottom() - hOk, bar, hOk), QColor(60, 180, 90));
        p.fillRect(QRectF(x + bar, area.bottom() - hNg, bar, hNg), QColor(220, 60, 50));
        p.setPen(QColor(190, 200, 210));
        p.setFont(pageFont(13));
        p.drawText(QRectF(area.left() + i * slot, area.bottom() + 4, slot, 18), Qt::AlignCenter,
                   QString::number(m_hours[i]));
        // The count above a bar that has one: operators read the number too.
        p.setFont(pageFont(11));
        if (ng > 0)
            p.drawText(QRectF(x + bar - 10, area.bottom() - hNg - 16, bar + 20, 14), Qt::AlignCenter, QString::number(ng));
    }
    p.setFont(pageFont(14));
    p.fillRect(QRectF(area.right() - 150, area.top(), 14, 14), QColor(60, 180, 90));
    p.drawText(QPointF(area.right() - 130, area.top() + 12), LanStr(1329));
    p.fillRect(QRectF(area.right() - 80, area.top(), 14, 14), QColor(220, 60, 50));
    p.drawText(QPointF(area.right() - 60, area.top() + 12), LanStr(1328));
}

CycleChart::CycleChart(QWidget* parent) : QWidget(parent) { setMinimumHeight(240); }

void CycleChart::setData(const QList<QPointF>& points, double median)
{
    m_points = points;
    m_median = median;
    update();
}

void CycleChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(32, 36, 44));
    double max = 1;
    for (const QPointF& pt : m_points)
        max = std::max(max, pt.y());
    double top = 1;
    const QRectF area = drawAxes(p, rect(), max, &top, false);
    p.setFont(pageFont(13));
    // Every second hour while the labels keep apart, else every fourth.
    const double wide = p.fontMetrics().horizontalAdvance(QStringLiteral("24:00")) + 8;
    const int every = area.width() / 12 >= wide ? 2 : 4;
    for (int h = 0; h <= 24; h += every) {
        const double x = area.left() + h / 24.0 * area.width();
        p.drawText(QRectF(x - wide / 2, area.bottom() + 4, wide, 18), Qt::AlignCenter, QStringLiteral("%1:00").arg(h));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(80, 160, 230));
    for (const QPointF& pt : m_points) {
        const QPointF at(area.left() + pt.x() / 86400.0 * area.width(), area.bottom() - pt.y() / top * area.height());
        p.drawEllipse(at, 2.5, 2.5);
    }
    if (!m_points.isEmpty()) {
        const double y = area.bottom() - m_median / top * area.height();
        p.setPen(QPen(QColor(230, 180, 40), 2, Qt::DashLine));
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    }
}

// --- statistics page ------------------------------------------------------------------------

StatisticsWidget::StatisticsWidget(ResStatisticsParam* stats, DiskCommands* disk, QWidget* parent)
    : QWidget(parent), m_stats(stats), m_disk(disk)
{
    const PageFrame frame = framePage(this, "statisticsPage", 1523);
    m_days = frame.days;
    QVBoxLayout* right = frame.right;
    auto* choose = new QHBoxLayout;
    m_camera = new QComboBox(this);
    m_detection = new QComboBox(this);
    m_shift = new QComboBox(this);
    m_camera->addItem(QString(), 8);
    for (int c = 0; c < std::max(1, numCamera); ++c)
        m_camera->addItem(QString(), c);
    m_detection->addItem(QString(), 8);
    for (int d = 0; d < kMaxDetections; ++d)
        m_detection->addItem(QString(), d);
    m_shift->addItem(QString(), int(WholeDay));
    m_shift->addItem(QString(), int(Morning));
    m_shift->addItem(QString(), int(Night));
    relabel();
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, [this] {
        relabel();
        fillDays();
    });
    for (QComboBox* box : {m_camera, m_detection, m_shift}) {
        box->setFont(pageFont(18));
        box->setMinimumHeight(52);
        choose->addWidget(box);
        connect(box, &QComboBox::currentIndexChanged, this, &StatisticsWidget::refresh);
    }
    right->addLayout(choose);
    m_counts = new QLabel(this);
    m_counts->setFont(pageFont(22));
    right->addWidget(m_counts);
    m_bars = new HourBars(this);
    right->addWidget(m_bars, 1);
    connect(finishPage(this, frame), &QPushButton::clicked, this, &StatisticsWidget::SlotExportData);
    connect(m_days, &QListWidget::currentRowChanged, this, &StatisticsWidget::showDay);
    if (m_stats) {
        // Only while shown: the cycle counts every judgement, and opening the page reloads.
        connect(m_stats, &ResStatisticsParam::countsChanged, this, [this] {
            if (isVisible() && m_days->currentRow() <= 0) {
                m_stats->setFindCount();
                refresh();
            }
        });
        connect(m_stats, &ResStatisticsParam::daysChanged, this, &StatisticsWidget::fillDays);
    }
    fillDays();
}

void StatisticsWidget::relabel()
{
    m_camera->setItemText(0, LanStr(1532));
    for (int i = 1; i < m_camera->count(); ++i)
        m_camera->setItemText(i, LanStr(1533).arg(i));
    m_detection->setItemText(0, LanStr(1534));
    for (int i = 1; i < m_detection->count(); ++i)
        m_detection->setItemText(i, LanStr(1713).arg(i));
    const int shifts[] = {1531, 1529, 1530};
    for (int i = 0; i < 3; ++i)
        m_shift->setItemText(i, LanStr(shifts[i]));
}

void StatisticsWidget::fillDays()
{
    const QSignalBlocker block(m_days);
    m_days->clear();
    const int current = std::max(0, m_days->currentRow());
    m_days->addItem(LanStr(1535));
    if (m_stats)
        m_days->addItems(m_stats->archivedDays());
    const int row = current < m_days->count() ? current : 0;
    m_days->setCurrentRow(row);
    showDay(row);
}

void StatisticsWidget::showDay(int row)
{
    if (!m_stats)
        return;
    if (row <= 0)
        m_stats->setFindCount();
    else if (!m_stats->setFindCount(QStringLiteral("./ResStatistics/%1.db").arg(m_days->item(row)->text())))
        gpWarnBox->showMessage(LanStr(1508));
    refresh();
}

void StatisticsWidget::refresh()
{
    if (!m_stats)
        return;
    const int c = m_camera->currentData().toInt(), d = m_detection->currentData().toInt();
    const auto shift = ShiftType(m_shift->currentData().toInt());
    const int ok = m_stats->getCount(shift, true, c, d), ng = m_stats->getCount(shift, false, c, d);
    const double rate = ok + ng > 0 ? 100.0 * ng / (ok + ng) : 0;
    m_counts->setText(QStringLiteral("OK %1    NG %2    NG %3%").arg(ok).arg(ng).arg(rate, 0, 'f', 2));
    QList<int> hours, okHours, ngHours;
    if (shift == WholeDay) {
        // The production day in its order: 8:00 first.
        const QList<int> o = m_stats->getRes(WholeDay, true, c, d), n = m_stats->getRes(WholeDay, false, c, d);
        for (int i = 0; i < 24; ++i) {
            const int h = (i + 8) % 24;
            hours << h, okHours << o[h], ngHours << n[h];
        }
    } else {
        okHours = m_stats->getRes(shift, true, c, d);
        ngHours = m_stats->getRes(shift, false, c, d);
        for (int i = 0; i < 12; ++i)
            hours << (shift == Morning ? 8 + i : (20 + i) % 24);
    }
    m_bars->setData(hours, okHours, ngHours);
}

QString StatisticsWidget::countsText() const { return m_counts->text(); }

bool StatisticsWidget::SlotExportData()
{
    hide();
    auto again = qScopeGuard([this] { show(); });
    if (gpChooseBox->ask(LanStr(1500)) != 1 || !m_disk->promptForDisk())
        return false;
    const QString name = QDateTime::currentDateTime().toString("yyyy-MM-dd_hh.mm.ss") + ".xlsx";
    if (!gpMyxls)
        gpMyxls = new Myxls;
    if (!gpMyxls->ImportRes(name, std::max(1, numCamera))) {
        m_disk->disk.release();
        OperationRecord::instance().InsertRecord(LanStr(1520).arg(gpMyxls->error()));
        gpWarnBox->showMessage(LanStr(1520).arg(gpMyxls->error()));
        return false;
    }
    return m_disk->putOnDisk(name, name);
}

// --- detection cycle page --------------------------------------------------------------------

DetectCycleWidget::DetectCycleWidget(DiskCommands* disk, QWidget* parent) : QWidget(parent), m_disk(disk)
{
    const PageFrame frame = framePage(this, "detectCyclePage", 1524);
    m_days = frame.days;
    QVBoxLayout* right = frame.right;
    m_summary = new QLabel(this);
    m_summary->setFont(pageFont(22));
    right->addWidget(m_summary);
    m_chart = new CycleChart(this);
    right->addWidget(m_chart, 2);
    m_table = new QTableWidget(0, 2, this);
    m_table->setHorizontalHeaderLabels({LanStr(1536), LanStr(1525)});
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, [this] {
        m_table->setHorizontalHeaderLabels({LanStr(1536), LanStr(1525)});
        showDay(m_days->currentRow());
    });
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setFont(pageFont(16));
    right->addWidget(m_table, 1);
    connect(finishPage(this, frame), &QPushButton::clicked, this, &DetectCycleWidget::exportData);
    connect(m_days, &QListWidget::currentRowChanged, this, &DetectCycleWidget::showDay);
    chooseRange = [this](QDateTime* start, QDateTime* end) {
        DateTimeDialog dialog(this);
        return dialog.choose(start) && dialog.choose(end);
    };
    fillDays();
}

void DetectCycleWidget::fillDays()
{
    const QSignalBlocker block(m_days);
    m_days->clear();
    m_days->addItems(DetectCycleSQL::instance()->getDBName());
    m_days->setCurrentRow(m_days->count() - 1);
    showDay(m_days->count() - 1);
}

void DetectCycleWidget::showDay(int row)
{
    if (row < 0 || row >= m_days->count())
        return;
    // The last entry is the current file; the others are archived days.
    const QString file = row == m_days->count() - 1 ? QStringLiteral("DetectCycle.db")
                                                    : QStringLiteral("DetectCycle/%1.db").arg(m_days->item(row)->text());
    DetectCycleSQL::instance()->closeDB();
    const QList<detectCycleInfo> rows = DetectCycleSQL::rowsBetween(file, "0", "9");
    m_table->setRowCount(int(rows.size()));
    QList<QPointF> points;
    QList<double> periods;
    for (int i = 0; i < rows.size(); ++i) {
        m_table->setItem(i, 0, new QTableWidgetItem(rows[i].roundstart));
        m_table->setItem(i, 1, new QTableWidgetItem(QString::number(rows[i].roundtime)));
        const QTime t = QTime::fromString(rows[i].roundstart.mid(11), "hh:mm:ss.zzz");
        points << QPointF(t.msecsSinceStartOfDay() / 1000.0, rows[i].roundtime);
        periods << rows[i].roundtime;
    }
    const DetectCycleSQL::Summary s = DetectCycleSQL::summarize(periods);
    m_summary->setText(s.count == 0 ? LanStr(1538)
                                    : LanStr(1526).arg(s.min).arg(s.median).arg(s.max).arg(s.count));
    m_chart->setData(points, s.median);
}

QString DetectCycleWidget::summaryText() const { return m_summary->text(); }

bool DetectCycleWidget::exportData()
{
    if (!m_disk->promptForDisk())
        return false;
    QDateTime start, end;
    if (!chooseRange(&start, &end)) {
        m_disk->disk.release();
        return false;
    }
    auto failed = [this](const QString& why) {
        m_disk->disk.release();
        OperationRecord::instance().InsertRecord(LanStr(1537).arg(why));
        gpWarnBox->showMessage(LanStr(1537).arg(why));
        return false;
    };
    const QStringList lines = DetectCycleSQL::exportQueries(start, end);
    if (lines.isEmpty())
        return failed(QStringLiteral("%1 > %2").arg(start.toString("yyyy-MM-dd hh:mm"), end.toString("yyyy-MM-dd hh:mm")));
    QSaveFile sql("sql.txt");
    if (!sql.open(QIODevice::WriteOnly | QIODevice::Text) || sql.write((lines.join('\n') + '\n').toUtf8()) < 0 ||
        !sql.commit())
        return failed("sql.txt: " + sql.errorString());

    QProcess xls;
    xls.setProcessChannelMode(QProcess::MergedChannels);
    QString output;
    QEventLoop loop;
    connect(&xls, &QProcess::readyRead, &loop, [&] { output += QString::fromLocal8Bit(xls.readAll()); });
    connect(&xls, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&xls, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    xls.start("./cnt_net/xls", {"--lan", QString::number(gLan)});
    if (xls.waitForStarted(5000))
        loop.exec();
    if (xls.state() != QProcess::NotRunning)
        xls.waitForFinished(1000);
    output += QString::fromLocal8Bit(xls.readAll());
    // The produced file is the first word of the line that says "export finished".
    QString produced;
    if (output.contains("export finished"))
        produced = output.section("export finished", 0, 0).section('\n', -1).trimmed().section(' ', 0, 0);
    if (produced.isEmpty() || xls.exitStatus() != QProcess::NormalExit || xls.exitCode() != 0)
        return failed(output.trimmed().isEmpty() ? xls.errorString() : output.trimmed().left(300));
    return m_disk->putOnDisk(produced, QFileInfo(produced).fileName());
}

// --- operation record page -----------------------------------------------------------------

RecordWidget::RecordWidget(QWidget* parent) : QWidget(parent)
{
    const PageFrame frame = framePage(this, "recordPage", 1631);
    m_days = frame.days;
    m_table = new QTableWidget(0, 3, this);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setFont(pageFont(16));
    frame.right->addWidget(m_table, 1);
    connect(finishPage(this, frame, 1629), &QPushButton::clicked, this, &RecordWidget::clearRecord);
    connect(m_days, &QListWidget::currentRowChanged, this, &RecordWidget::showDay);
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, &RecordWidget::fillDays);
    checkPassword = [] { return int(gPasswordLevel); };
}

bool RecordWidget::ask(const QString& question) { return gpChooseBox && gpChooseBox->ask(question) == 1; }

void RecordWidget::fillDays()
{
    const QSignalBlocker block(m_days);
    m_days->clear();
    m_days->addItem(LanStr(1535));
    QStringList days = QDir("./RECORD").entryList({"*.db"}, QDir::Files, QDir::Name | QDir::Reversed);
    for (QString& d : days)
        d.chop(3);
    m_days->addItems(days);
    m_days->setCurrentRow(0);
    showDay(0);
}

void RecordWidget::showDay(int row)
{
    m_table->setHorizontalHeaderLabels({LanStr(1636), LanStr(1633), LanStr(1632)});
    const QString file = row <= 0 ? QStringLiteral("RECORD.db")
                                  : QStringLiteral("./RECORD/%1.db").arg(m_days->item(row)->text());
    QList<QStringList> rows;
    const QString conn = QStringLiteral("recordPageRead");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", conn);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (QFile::exists(file) && db.open()) {
            // Newest first: what the operator looks for is what just happened.
            QSqlQuery q("SELECT recordtime, recordpassword, remarks FROM RECORD ORDER BY rowid DESC", db);
            while (q.next())
                rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(conn);
    m_table->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i)
        for (int c = 0; c < 3; ++c)
            m_table->setItem(i, c, new QTableWidgetItem(rows[i][c]));
}

bool RecordWidget::clearRecord()
{
    // Only today's record is cleared; archived days stay as they were.
    if (checkPassword() < 1 || !ask(LanStr(1630)))
        return false;
    if (!OperationRecord::instance().ClearRecord()) {
        gpWarnBox->showMessage(LanStr(135));
        return false;
    }
    OperationRecord::instance().InsertRecord(LanStr(1008));
    m_days->setCurrentRow(0);
    showDay(0);
    return true;
}
