// Renders every page and box of the operator interface in the three
// languages at 1024 x 768 and 1920 x 1080 into PNG files, with a replayed
// picture, regions and counts, and checks each for clipped texts,
// overlapping widgets and touch targets below 48 px.
//   station-screens --out DIR [--check]
// With --check the exit status is 1 when any page has a problem.
#include "Boxes.h"
#include "AccountPage.h"
#include "AlarmPage.h"
#include "HelpPage.h"
#include <QListWidget>
#include "WizardParaWidget.h"
#include "ParaPages.h"
#include "CammerSingleton.h"
#include "CavityNames.h"
#include "DetectCycleSQL.h"
#include "DiVeZoruzo.h"
#include "FactoryDir.h"
#include "ImageLib.h"
#include "Globals.h"
#include "Keypads.h"
#include "Language.h"
#include "MApplication.h"
#include "Messages.h"
#include "ParamDb.h"
#include "RecordsPages.h"
#include "RegionEditor.h"
#include "ResStatistics.h"
#include "UiCheck.h"
#include "WizardPara.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QLayout>
#include <QTemporaryDir>
#include <QTextStream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {
QTextStream out(stdout);
int problems = 0;

// Lets layouts, timers and the replayed frames arrive.
void settle(int ms = 150)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void shoot(QWidget* w, const QString& dir, const QString& name, QSize size)
{
    if (!size.isEmpty()) {
        w->setWindowState(Qt::WindowNoState);
        w->setFixedSize(size);
    }
    w->show();
    settle();
    if (auto* l = w->layout())
        l->activate();
    settle();
    w->grab().save(QDir(dir).filePath(name + ".png"));
    for (const UiProblem& p : checkPage(w)) {
        out << name << ": " << p.text() << Qt::endl;
        ++problems;
    }
}

// A moulded part on a grey tool, so the views show something real.
void makeScene(const QString& dir)
{
    QDir().mkpath(dir);
    cv::Mat img(480, 640, CV_8UC3, cv::Scalar(90, 95, 100));
    cv::rectangle(img, {120, 100}, {520, 380}, cv::Scalar(150, 155, 160), cv::FILLED);
    cv::circle(img, {230, 240}, 60, cv::Scalar(40, 40, 45), cv::FILLED);
    cv::circle(img, {410, 240}, 60, cv::Scalar(40, 40, 45), cv::FILLED);
    cv::imwrite(QDir(dir).filePath("frame0.png").toStdString(), img);
}

void addRegions()
{
    paramdb::openAll({});
    WizardPara wp;
    wp.LoadDatafromFile();
    wp.enable_show_roi = 1;
    wp.SaveDatatoFile();
    CammerSingleton para(0);
    para.LoadDatafromFile();
    SetImageBounds(640, 480);
    for (int d = 0; d < 2; ++d)
        for (int i = 0; i < 2; ++i)
            para.AddRect(d, {160 + i * 180, 170}, {300 + i * 180, 310}, wp);
    para.SaveDatatoFile();
    paramdb::closeAll();
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("STATION_PLATFORM");
    MApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addOption({"out", "folder for the PNG files", "dir"});
    cli.addOption({"check", "exit 1 when a page has a problem"});
    cli.addHelpOption();
    cli.process(app);
    const QString outDir = QDir(cli.value("out").isEmpty() ? "screens" : cli.value("out")).absolutePath();
    QDir().mkpath(outDir);

    QTemporaryDir work;
    QString error;
    if (!factory::makeWorkingDir(work.path(), &error)) {
        out << "error: " << error << Qt::endl;
        return 2;
    }
    QDir::setCurrent(work.path());
    makeScene(work.filePath("replay"));
    qputenv("STATION_CAMERA", ("replay:" + work.filePath("replay")).toUtf8());
    qputenv("STATION_ANSWER", "yes");
    qputenv("STATION_IO_PORT", work.filePath("no-board").toUtf8());
    LoadLanStr();
    createGlobalLocks();
    LoadPixmaps();
    addRegions();

    DiVeZoruzo win;
    for (int h : {9, 9, 10, 14, 21})
        gpResStatisticsParam->Add(h, h != 10, 0, 1);
    for (int i = 0; i < 40; ++i)
        DetectCycleSQL::instance()->insertDate(
            {QDateTime::currentDateTime().addSecs(-i * 37).toString("yyyy-MM-dd hh:mm:ss.zzz"), 30 + (i % 7) * 0.4});
    NumPad numPad(&win);
    NumCharPad charPad(&win);
    WarnBox warn(&win);
    ChooseBox choose(&win);
    const QList<QSize> sizes{{1024, 768}, {1920, 1080}};
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        SetLanguage(lan);
        for (const QSize& size : sizes) {
            const QString tag = QStringLiteral("-%1-%2x%3").arg(lan).arg(size.width()).arg(size.height());
            settle();
            shoot(&win, outDir, "main" + tag, size);
            win.showStatisticsPage();
            shoot(win.statisticsPage(), outDir, "statistics" + tag, size);
            win.statisticsPage()->hide();
            win.showCycleLogPage();
            shoot(win.cycleLogPage(), outDir, "cycle" + tag, size);
            win.cycleLogPage()->hide();
            win.alarmPage()->showAlarm({0, 1}, 1);
            shoot(win.alarmPage(), outDir, "alarm" + tag, size);
            win.alarmPage()->hide();
            win.regionEditor()->open(0, 0);
            shoot(win.regionEditor(), outDir, "editor" + tag, size);
            win.regionEditor()->hide();
            win.cavityPage()->init();
            shoot(win.cavityPage(), outDir, "cavities" + tag, size);
            win.cavityPage()->hide();
            win.showRecordPage();
            shoot(win.recordPage(), outDir, "record" + tag, size);
            win.recordPage()->hide();
            win.showAccountPage();
            shoot(win.accountPage(), outDir, "accounts" + tag, size);
            win.accountPage()->hide();
            {
                // Every page at the advanced level, with every field shown: the
                // detail and factory fields and, on the IO page, the table of mode 4.
                WizardParaWidget* settings = win.settingsPage();
                settings->open(2);
                gpWParaBak->enable_display_detail = 1;
                gpWParaBak->factory_param = 1;
                gpWParaBak->pending_machine_mode = 4;
                gpWParaBak->multi_detect_num = 8;
                for (int p = 0; p < parafields::PageCount; ++p)
                    settings->page(parafields::Page(p))->refresh(2);
                static const char* names[] = {"common", "camera", "network", "io", "advanced", "maintenance"};
                for (int p = 0; p < 6; ++p) {
                    settings->showPage(p);
                    shoot(settings, outDir, QStringLiteral("settings-%1").arg(names[p]) + tag, size);
                }
                settings->cameraPage()->showCameraOrder();
                if (auto* order = settings->cameraPage()->findChild<WidgetChangeCamera*>()) {
                    shoot(order, outDir, "camera-order" + tag, size);
                    order->hide();
                }
                settings->SlotCancel();
            }
            win.showHelpPage();
            for (int t = 0; t < 5; ++t) {
                win.helpPage()->topics()->setCurrentRow(t);
                shoot(win.helpPage(), outDir, QStringLiteral("help%1").arg(t) + tag, size);
            }
            win.helpPage()->hide();
            for (int st = 0; st < BeginnerGuide::kSteps; ++st) {
                win.guide()->step(st);
                shoot(win.guide(), outDir, QStringLiteral("guide%1").arg(st) + tag, size);
            }
            win.guide()->hide();
        }
        // The boxes at their own size.
        const QString tag = QStringLiteral("-%1").arg(lan);
        numPad.getNumber(LanStr(1148), 3, 0, 100);
        shoot(&numPad, outDir, "numpad" + tag, {});
        numPad.hide();
        charPad.getText(LanStr(1335), "Cavity A", 32);
        shoot(&charPad, outDir, "charpad" + tag, {});
        charPad.hide();
        warn.showMessage(LanStr(1512).arg("records/r1234.txt"), false);
        shoot(&warn, outDir, "warning" + tag, {});
        warn.hide();
        choose.ask(LanStr(1509));
        shoot(&choose, outDir, "question" + tag, {});
        choose.hide();
    }
    out << problems << " problems, pictures in " << outDir << Qt::endl;
    return cli.isSet("check") && problems > 0 ? 1 : 0;
}
