// The records pages and the USB disk commands of the main window: what the
// statistics and cycle pages show (screenshots kept under screenshots/),
// and every export onto a disk, with its failures.
#include "Boxes.h"
#include "DetectCycleSQL.h"
#include "DiVeZoruzo.h"
#include "Station.h"
#include "DiskCommands.h"
#include "Globals.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "RecordsPages.h"
#include "ResStatistics.h"
#include "TestDir.h"
#include "Touch.h"
#include "WindowEnv.h"
#include "WizardPara.h"

#include <QComboBox>
#include <QPushButton>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QDateTimeEdit>
#include <QDir>
#include <QJsonArray>
#include <QLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void screenshot(QWidget* w, const QString& name)
{
    QDir().mkpath(STATION_SCREENSHOTS);
    w->grab().save(QStringLiteral(STATION_SCREENSHOTS "/%1.png").arg(name));
}

QJsonObject readBook(const QString& file)
{
    QProcess p;
    p.start("/usr/bin/python3", {STATION_SOURCE_DIR "/tests/records/read_xlsx.py", file});
    p.waitForFinished(60000);
    return QJsonDocument::fromJson(p.readAllStandardOutput())["cells"].toObject();
}

// Columns of x where the chart has drawn pure-ish red (NG bars).
QList<int> redColumns(const QImage& img)
{
    QList<int> xs;
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y) {
            const QColor c = img.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 80 && c.blue() < 80) {
                xs << x;
                break;
            }
        }
    return xs;
}

struct Records : ::testing::Test {
    TestDir dir;
    QTemporaryDir usb;  // a folder that stands for the mounted disk
    std::unique_ptr<DiVeZoruzo> win;

    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        prepareUnattendedWindow(dir);
        // The folder stands for the USB disk the operator plugged in.
        qputenv("STATION_USB_DISK", usb.path().toUtf8());
        win = buildStation();
        gLan = 1;
    }
    void TearDown() override
    {
        qunsetenv("STATION_USB_DISK");
        win.reset();
        qunsetenv("STATION_ANSWER");
    }
    QStringList onDisk() const { return QDir(usb.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
};

} // namespace

TEST_F(Records, TheStatisticsPageShowsTheCountsAndEachBarAtItsHour)
{
    StatisticsWidget* page = win->statisticsPage();
    ASSERT_NE(page, nullptr) << "statistics are on in a factory station";
    ResStatisticsParam* s = gpResStatisticsParam;
    for (int i = 0; i < 3; ++i)
        s->Add(9, true, 0, 0);
    s->Add(9, false, 0, 0);
    s->Add(9, false, 0, 1);
    s->Add(21, true, 1, 0);
    win->showStatisticsPage();
    page->resize(1280, 800);
    EXPECT_TRUE(page->countsText().startsWith("OK 4    NG 2")) << page->countsText().toStdString();
    page->camera()->setCurrentIndex(1);   // camera 1
    EXPECT_EQ(page->countsText(), "OK 3    NG 2    NG 40.00%");
    page->detection()->setCurrentIndex(2);   // detection 2
    EXPECT_TRUE(page->countsText().startsWith("OK 0    NG 1"));
    page->detection()->setCurrentIndex(0);

    // The whole day runs from 8:00; the NG bar of 9:00 stands in the second slot.
    const QList<int> hours = page->bars()->hours();
    ASSERT_EQ(hours.size(), 24);
    EXPECT_EQ(hours.first(), 8);
    EXPECT_EQ(hours.last(), 7);
    page->layout()->activate();
    const QList<int> red = redColumns(page->bars()->grab().toImage());
    const QRectF slot = page->bars()->slotRect(1);
    // The legend's red square sits at the right; the bars are the rest.
    int bars = 0;
    for (int x : red) {
        if (x >= page->bars()->width() - 160)
            continue;
        ++bars;
        EXPECT_TRUE(slot.left() <= x && x <= slot.right()) << x << " outside " << slot.left() << ".." << slot.right();
    }
    EXPECT_GT(bars, 5) << "no NG bar drawn";
    screenshot(page, "statistics-page");

    // The night shift lists 20:00 first; camera 2's OK at 21:00 is there.
    page->camera()->setCurrentIndex(2);
    page->shift()->setCurrentIndex(2);
    EXPECT_EQ(page->bars()->hours().first(), 20);
    EXPECT_TRUE(page->countsText().startsWith("OK 1    NG 0"));
}

TEST_F(Records, TheStatisticsExportPutsTheWorkbookOnTheDiskAndNothingStaysBehind)
{
    gpResStatisticsParam->Add(10, false, 0, 0);
    gpResStatisticsParam->Add(10, false, 0, 1);
    StatisticsWidget* page = win->statisticsPage();
    ASSERT_TRUE(page->SlotExportData());
    EXPECT_EQ(win->diskCommands()->lastMessage(), "Successfully export the data");
    const QStringList files = onDisk();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files.first().endsWith(".xlsx"));
    EXPECT_TRUE(QDir().entryList({"*.xlsx"}).isEmpty()) << "the workbook stays in the working directory";
    const QJsonArray ng = readBook(usb.filePath(files.first()))["Camera0"].toArray()[2].toArray();
    EXPECT_EQ(ng[3].toInt(), 2) << "10:00 is the third hour of the production day";
    EXPECT_TRUE(hostActions().contains("umount " + usb.path())) << "the disk is released";

    // The operator declines: nothing is written.
    qputenv("STATION_ANSWER", "no");
    EXPECT_FALSE(page->SlotExportData());
    EXPECT_EQ(onDisk().size(), 1);
    // No disk at all: the prompt gives up instead of reporting success.
    qputenv("STATION_ANSWER", "yes");
    qputenv("STATION_USB_DISK", dir.file("no-disk-plugged-in").toUtf8());
    EXPECT_FALSE(page->SlotExportData());
    EXPECT_EQ(onDisk().size(), 1);
}

TEST_F(Records, TheCyclePageShowsTheDayAndExportsARangeThroughTheExporter)
{
    const QDate today = QDate::currentDate();
    const QStringList times{"08:00:00.000", "08:00:31.200", "08:01:01.700", "08:01:43.000"};
    const QList<double> periods{30.0, 31.2, 30.5, 41.3};
    for (int i = 0; i < times.size(); ++i)
        DetectCycleSQL::instance()->insertDate({today.toString("yyyy-MM-dd ") + times[i], periods[i]});
    win->showCycleLogPage();
    DetectCycleWidget* page = win->cycleLogPage();
    page->resize(1280, 800);
    EXPECT_EQ(page->days()->currentItem()->text(), today.toString("yyyy-MM-dd"));
    ASSERT_EQ(page->table()->rowCount(), 4);
    EXPECT_EQ(page->table()->item(1, 1)->text(), "31.2");
    EXPECT_EQ(page->summaryText(), "min 30 s   median 30.85 s   max 41.3 s   4 cycles");
    screenshot(page, "cycle-page");

    QDir().mkpath("cnt_net");
    QFile::remove("cnt_net/xls");
    ASSERT_TRUE(QFile::link(STATION_CYCLE_XLS, "cnt_net/xls"));
    // The operator sets the start, then the end, in the station's date dialog.
    QList<QDateTime> range{QDateTime(today, QTime(8, 0, 30)), QDateTime(today, QTime(9, 0))};
    touch::DialogHand hand([&](QDialog* d) {
        auto* edit = d->findChild<QDateTimeEdit*>();
        if (d->objectName() != "dateTimeDialog" || !edit || range.isEmpty())
            return;
        edit->setDateTime(range.takeFirst());
        for (QPushButton* b : d->findChildren<QPushButton*>())
            if (b->text() == LanStr(401))
                b->click();
    });
    touch::PanelOperator op;
    ASSERT_TRUE(page->exportData()) << win->diskCommands()->lastMessage().toStdString();
    EXPECT_TRUE(range.isEmpty()) << "both ends were asked";
    const QStringList files = onDisk();
    ASSERT_EQ(files.size(), 1);
    const QJsonArray rows = readBook(usb.filePath(files.first()))["DetectCycle"].toArray();
    EXPECT_EQ(rows.size(), 4) << "heading and the three cycles after 08:00:30";
    EXPECT_EQ(readText("sql.txt").count('\n'), 1);

    // An exporter that fails: said so, recorded, the disk released, nothing moved.
    QFile::remove("cnt_net/xls");
    writeText("cnt_net/xls", "#!/bin/sh\necho 'cannot write the workbook'\nexit 3\n");
    QFile::setPermissions("cnt_net/xls", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    range = {QDateTime(today, QTime(8, 0, 30)), QDateTime(today, QTime(9, 0))};
    EXPECT_FALSE(page->exportData());
    EXPECT_TRUE(!op.warned.isEmpty() && op.warned.last().contains("cannot write the workbook"))
        << op.warned.join("; ").toStdString();
    EXPECT_EQ(onDisk().size(), 1);
    EXPECT_TRUE(recordRemarks().last().startsWith("The export program failed")) << recordRemarks().last().toStdString();
}

TEST_F(Records, TheDataExportCopiesTheStationAndOnlyThenClearsTheRawPictures)
{
    QDir().mkpath("originalimage/cammer11");
    writeText("originalimage/cammer11/template0.bmp", QByteArray(4096, 'b'));
    QDir().mkpath("cnt_net");
    writeText("cnt_net/client.conf", "password=broker-secret\n");
    DiskCommands* d = win->diskCommands();

    // A disk that cannot take the folder: the raw pictures stay.
    QTemporaryDir broken;
    writeText(broken.filePath("not-a-folder"), "x");
    qputenv("STATION_USB_DISK", broken.filePath("not-a-folder").toUtf8());
    EXPECT_FALSE(d->SlotExportData());
    EXPECT_TRUE(d->lastMessage().startsWith("Writing to the USB disk failed")) << d->lastMessage().toStdString();
    EXPECT_TRUE(QFile::exists("originalimage/cammer11/template0.bmp"));
    EXPECT_TRUE(recordRemarks().last().startsWith("Export failed")) << recordRemarks().last().toStdString();

    qputenv("STATION_USB_DISK", usb.path().toUtf8());
    ASSERT_TRUE(d->SlotExportData()) << d->lastMessage().toStdString();
    const QStringList folders = onDisk();
    ASSERT_EQ(folders.size(), 1);
    const QString copy = usb.filePath(folders.first() + "/" + QFileInfo(dir.path()).fileName());
    EXPECT_EQ(QFileInfo(copy + "/originalimage/cammer11/template0.bmp").size(), 4096);
    EXPECT_TRUE(QFile::exists(copy + "/PARAM.db"));
    EXPECT_FALSE(QFile::exists("originalimage/cammer11/template0.bmp"));
    // The passwords stay on the station: the accounts and the broker's settings.
    ASSERT_TRUE(QFile::exists("UserDataBase.db"));
    EXPECT_FALSE(QFile::exists(copy + "/UserDataBase.db"));
    EXPECT_FALSE(QFile::exists(copy + "/cnt_net/client.conf"));
    EXPECT_TRUE(QDir(copy + "/cnt_net").exists()) << "the rest of the folder goes";
    const QStringList remarks = recordRemarks();
    EXPECT_TRUE(remarks.contains("Data exported: " + folders.first()));
    EXPECT_TRUE(remarks.last().startsWith(LanStr(1893).section('%', 0, 0))) << remarks.last().toStdString();
    EXPECT_TRUE(remarks.last().contains("UserDataBase.db")) << remarks.last().toStdString();
}

TEST_F(Records, TheUpdateCopiesTheChosenArchiveRecordsItAndRestarts)
{
    DiskCommands* d = win->diskCommands();
    // The restart goes through the host: a dry-run reboot in its journal.
    const auto restarts = [] { return hostActions().count("reboot"); };
    writeText(usb.filePath("station-2.4.tar.gz"), QByteArray(100000, 'z'));
    // Shown by the dialog's filter, but not an update archive.
    writeText(usb.filePath("notes.tar.txt"), "notes");
    QString chosen = usb.filePath("notes.tar.txt");
    // The operator picks the file in the station's file dialog, which opens on the disk.
    QStringList openedAt;
    touch::DialogHand hand([&](QDialog* dlg) {
        if (auto* files = qobject_cast<QFileDialog*>(dlg)) {
            openedAt << files->directory().absolutePath();
            files->selectFile(chosen);
            if (auto* buttons = files->findChild<QDialogButtonBox*>())
                buttons->button(QDialogButtonBox::Open)->click();
            if (files->isVisible())
                files->reject();  // the file could not be picked: the test fails below, it does not hang
        }
    });
    EXPECT_FALSE(d->SlotUpdateApp());
    EXPECT_TRUE(d->lastMessage().contains("not an update archive"));
    ASSERT_FALSE(openedAt.isEmpty());
    EXPECT_EQ(openedAt.first(), QDir(usb.path()).absolutePath());
    EXPECT_EQ(restarts(), 0);
    EXPECT_TRUE(QDir().entryList({"newupdate*"}).isEmpty());

    chosen = usb.filePath("station-2.4.tar.gz");
    ASSERT_TRUE(d->SlotUpdateApp());
    EXPECT_EQ(restarts(), 1);
    EXPECT_EQ(QFileInfo("newupdate.tar.gz").size(), 100000);
    EXPECT_EQ(recordRemarks().last(), "Update archive copied: station-2.4.tar.gz, 100000 bytes");

    // Not confirmed: nothing copied.
    QFile::remove("newupdate.tar.gz");
    qputenv("STATION_ANSWER", "no");
    EXPECT_FALSE(d->SlotUpdateApp());
    EXPECT_FALSE(QFile::exists("newupdate.tar.gz"));
    EXPECT_EQ(restarts(), 1);
}

TEST_F(Records, TheRecordPageShowsEachDayNewestFirstAndClearsTodayWithItsProtection)
{
    OperationRecord& record = OperationRecord::instance();
    record.InsertRecord("first");
    record.InsertRecord("second");
    QDir().mkpath("RECORD");
    ASSERT_TRUE(QFile::copy("RECORD.db", "RECORD/2026-12-01.db"));
    // Clearing is protected by the system password.
    gpWPara->is_psw_used = 1;
    SetParaText(gpWPara->password, "1234");
    RecordWidget* page = win->recordPage();
    touch::PanelOperator op;
    page->fillDays();
    ASSERT_EQ(page->days()->count(), 2);
    EXPECT_EQ(page->days()->item(1)->text(), "2026-12-01");
    ASSERT_GE(page->table()->rowCount(), 2);
    EXPECT_EQ(page->table()->item(0, 2)->text(), "second");
    EXPECT_EQ(page->table()->item(1, 2)->text(), "first");

    EXPECT_FALSE(page->clearRecord()) << "nobody logged in, the password box cancelled";
    EXPECT_EQ(op.passwordsAsked, 1);
    EXPECT_TRUE(op.asked.isEmpty());
    op.password = [] { return QString("1234"); };
    ASSERT_TRUE(page->clearRecord());
    ASSERT_FALSE(op.asked.isEmpty());
    EXPECT_EQ(op.asked.last(), op.shown(LanStr(1630)));
    EXPECT_EQ(recordRemarks(), QStringList{LanStr(1008)});
    EXPECT_EQ(page->table()->rowCount(), 1);
    // The archived day is untouched.
    page->days()->setCurrentRow(1);
    EXPECT_GE(page->table()->rowCount(), 2);
    EXPECT_TRUE(recordRemarks("RECORD/2026-12-01.db").contains("first"));
}
