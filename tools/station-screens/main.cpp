// Shoots every page and box of the operator interface in the three
// languages at 1024 x 768 and 1920 x 1080 into PNG files, with a replayed
// picture, regions and counts, and checks each for clipped texts,
// overlapping widgets, touch targets below 48 px and pages that do not
// cover the screen. The station is built as the program builds it and shown
// on a real X server (an Xvfb per size, no window manager); the pictures are
// what that screen shows.
//   station-screens --out DIR [--check]
// With --check the exit status is 1 when any page has a problem.
#include "Boxes.h"
#include "AccountPage.h"
#include "AlarmPage.h"
#include "HelpPage.h"
#include "IoNames.h"
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
#include "Station.h"
#include "WholeScreen.h"
#include "ResStatistics.h"
#include "UiCheck.h"
#include "WizardPara.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QLayout>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
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

QRect screenRect()
{
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry() : QRect();
}

// Waits until w is on the screen as the program put it there.
bool exposed(QWidget* w)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        if (w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed())
            break;
        settle(50);
    }
    settle();
    if (auto* l = w->layout())
        l->activate();
    settle();
    return w->isVisible();
}

// What the screen shows of w (the whole screen for a page), and its problems.
// A page must cover the screen; a box must lie on it.
void shoot(QWidget* w, const QString& dir, const QString& name, bool page = true)
{
    if (!exposed(w)) {
        out << name << ": not shown" << Qt::endl;
        ++problems;
        return;
    }
    const QRect screen = screenRect();
    const QRect at = w->frameGeometry();
    if (page && at != screen) {
        out << name << QStringLiteral(": does not cover the screen (%1,%2 %3x%4)").arg(at.x()).arg(at.y()).arg(at.width()).arg(at.height())
            << Qt::endl;
        ++problems;
    } else if (!page && !screen.contains(at)) {
        out << name << ": leaves the screen" << Qt::endl;
        ++problems;
    }
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    shot = shot.copy(at);
    shot.save(QDir(dir).filePath(name + ".png"));
    // What the screen shows there must be this window: one left under another
    // is not seen by the operator, whatever its layout.
    const QImage seen = shot.toImage().convertToFormat(QImage::Format_RGB32);
    const QImage own = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (seen.size() == own.size()) {
        qint64 differing = 0;
        for (int y = 0; y < seen.height(); y += 2)
            for (int x = 0; x < seen.width(); x += 2)
                differing += qAbs(qGray(seen.pixel(x, y)) - qGray(own.pixel(x, y))) > 40;
        const qint64 sampled = qint64((seen.height() + 1) / 2) * ((seen.width() + 1) / 2);
        if (differing * 10 > sampled) {
            out << name << ": not on top, another window covers it" << Qt::endl;
            ++problems;
        }
    }
    for (const UiProblem& p : checkPage(w)) {
        out << name << ": " << p.text() << Qt::endl;
        ++problems;
    }
}

// A box or keypad as the program shows it: opened the way its caller opens it,
// shot while it waits for the operator, then closed.
void shootBox(QDialog* box, const QString& dir, const QString& name, const std::function<void()>& open)
{
    const QByteArray answer = qgetenv("STATION_ANSWER");
    qunsetenv("STATION_ANSWER");
    QTimer::singleShot(0, box, [box, dir, name] {
        shoot(box, dir, name, false);
        box->reject();
    });
    open();
    qputenv("STATION_ANSWER", answer);
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
// One Xvfb per size; this program again on each, shooting there.
int onEveryScreen(const QString& self, const QStringList& args)
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
        out << "error: Xvfb is needed (./station.sh deps)" << Qt::endl;
        return -1;
    }
    int total = 0, status = 0;
    for (const char* size : {"1024x768", "1920x1080"}) {
        QProcess x;
        x.start("Xvfb", {"-displayfd", "1", "-screen", "0", QString::fromLatin1(size) + "x24", "-nolisten", "tcp"});
        QByteArray display;
        QElapsedTimer t;
        t.start();
        while (x.waitForStarted(5000) && !display.contains('\n') && t.elapsed() < 10000 && x.state() == QProcess::Running) {
            x.waitForReadyRead(100);
            display += x.readAllStandardOutput();
        }
        if (!display.contains('\n')) {
            out << "error: Xvfb did not start at " << size << Qt::endl;
            return -1;
        }
        QProcess shots;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", ":" + QString::fromLatin1(display.trimmed()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        shots.setProcessEnvironment(env);
        shots.setProcessChannelMode(QProcess::MergedChannels);
        shots.start(self, args + QStringList{"--here"});
        // A station that hangs is a finding, not a wait for ever.
        if (!shots.waitForFinished(15 * 60 * 1000)) {
            shots.kill();
            shots.waitForFinished(5000);
        }
        const QString said = QString::fromLocal8Bit(shots.readAll());
        out << said;
        const QRegularExpressionMatch m = QRegularExpression("^(\\d+) problems", QRegularExpression::MultilineOption).match(said);
        if (!m.hasMatch() || shots.exitStatus() != QProcess::NormalExit) {
            out << "error: the shots at " << size << " did not finish" << Qt::endl;
            status = 2;
        } else {
            total += m.captured(1).toInt();
        }
        x.terminate();
        if (!x.waitForFinished(5000))
            x.kill();
    }
    out << total << " problems in all, pictures in the folder given" << Qt::endl;
    return status ? -1 : total;
}
} // namespace

int main(int argc, char** argv)
{
    qunsetenv("STATION_PLATFORM");
    // Without --here: the driver, which needs no display of its own.
    bool here = false;
    for (int i = 1; i < argc; ++i)
        here = here || qstrcmp(argv[i], "--here") == 0;
    if (!here)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    MApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addOption({"out", "folder for the PNG files", "dir"});
    cli.addOption({"check", "exit 1 when a page has a problem"});
    cli.addOption({"here", "shoot on this display only (the driver's own use)"});
    cli.addHelpOption();
    cli.process(app);
    const QString outDir = QDir(cli.value("out").isEmpty() ? "screens" : cli.value("out")).absolutePath();
    QDir().mkpath(outDir);
    if (!here) {
        const int found = onEveryScreen(QCoreApplication::applicationFilePath(), {"--out", outDir});
        return found < 0 ? 2 : cli.isSet("check") && found > 0 ? 1 : 0;
    }

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
    createGlobalLocks();
    LoadLanStr();
    addRegions();

    // The station as the program builds it, on this screen.
    const std::unique_ptr<DiVeZoruzo> station = buildStation();
    if (!station) {
        out << "error: the station did not start" << Qt::endl;
        return 2;
    }
    DiVeZoruzo& win = *station;
    // The pages behind the password, as after an administrator's login.
    gPasswordLevel = 2;
    for (int h : {9, 9, 10, 14, 21})
        gpResStatisticsParam->Add(h, h != 10, 0, 1);
    for (int i = 0; i < 40; ++i)
        DetectCycleSQL::instance()->insertDate(
            {QDateTime::currentDateTime().addSecs(-i * 37).toString("yyyy-MM-dd hh:mm:ss.zzz"), 30 + (i % 7) * 0.4});
    const QRect screen = screenRect();
    const QString size = QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height());
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        SetLanguage(lan);
        const QString tag = QStringLiteral("-%1-%2").arg(lan).arg(size);
        settle();
        shoot(&win, outDir, "main" + tag);
        win.showStatisticsPage();
        shoot(win.statisticsPage(), outDir, "statistics" + tag);
        win.statisticsPage()->hide();
        win.showCycleLogPage();
        shoot(win.cycleLogPage(), outDir, "cycle" + tag);
        win.cycleLogPage()->hide();
        win.alarmPage()->showAlarm({0, 1}, 1);
        shoot(win.alarmPage(), outDir, "alarm" + tag);
        win.alarmPage()->hide();
        win.regionEditor()->open(0, 0);
        shoot(win.regionEditor(), outDir, "editor" + tag);
        win.regionEditor()->hide();
        win.showCavityPage();
        shoot(win.cavityPage(), outDir, "cavities" + tag);
        win.cavityPage()->hide();
        win.showIoNamesPage();
        shoot(win.ioNamesPage(), outDir, "io-names" + tag);
        win.ioNamesPage()->hide();
        win.showRecordPage();
        shoot(win.recordPage(), outDir, "record" + tag);
        win.recordPage()->hide();
        win.showAccountPage();
        shoot(win.accountPage(), outDir, "accounts" + tag);
        win.accountPage()->hide();
        {
            // Every page at the advanced level, with every field shown: the
            // detail and factory fields and, on the IO page, the table of mode 4.
            win.showSettingsPage();
            WizardParaWidget* settings = win.settingsPage();
            gpWParaBak->enable_display_detail = 1;
            gpWParaBak->factory_param = 1;
            gpWParaBak->pending_machine_mode = 4;
            gpWParaBak->multi_detect_num = 8;
            for (int p = 0; p < parafields::PageCount; ++p)
                settings->page(parafields::Page(p))->refresh(2);
            static const char* names[] = {"common", "camera", "network", "io", "advanced", "maintenance"};
            for (int p = 0; p < 6; ++p) {
                settings->showPage(p);
                shoot(settings, outDir, QStringLiteral("settings-%1").arg(names[p]) + tag);
            }
            settings->cameraPage()->showCameraOrder();
            if (auto* order = settings->cameraPage()->findChild<WidgetChangeCamera*>()) {
                shoot(order, outDir, "camera-order" + tag);
                order->hide();
            }
            settings->SlotCancel();
        }
        win.showHelpPage();
        for (int t = 0; t < 5; ++t) {
            win.helpPage()->topics()->setCurrentRow(t);
            shoot(win.helpPage(), outDir, QStringLiteral("help%1").arg(t) + tag);
        }
        win.helpPage()->hide();
        showOnWholeScreen(win.guide());
        for (int st = 0; st < BeginnerGuide::kSteps; ++st) {
            win.guide()->step(st);
            shoot(win.guide(), outDir, QStringLiteral("guide%1").arg(st) + tag);
        }
        win.guide()->hide();
        // The station's own boxes and keypads, as their callers open them.
        shootBox(gpNumPad, outDir, "numpad" + tag, [] { gpNumPad->getNumber(LanStr(1148), 3, 0, 100); });
        shootBox(gpNumCharPad, outDir, "charpad" + tag, [] { gpNumCharPad->getText(LanStr(1335), "Cavity A", 32, false, false, true); });
        shootBox(gpNumCharPad, outDir, "charpad-pinyin" + tag, [] {
            QTimer::singleShot(0, gpNumCharPad, [] {
                for (const char* k : {"m", "u", "j", "u"})
                    gpNumCharPad->press(QString::fromLatin1(k));
            });
            gpNumCharPad->getText(LanStr(1335), QString(), 32, false, false, true);
        });
        shootBox(gpWarnBox, outDir, "warning" + tag, [] { gpWarnBox->showMessage(LanStr(1512).arg("records/r1234.txt"), true); });
        shootBox(gpChooseBox, outDir, "question" + tag, [] { gpChooseBox->ask(LanStr(1509)); });
    }
    out << problems << " problems, pictures in " << outDir << Qt::endl;
    return cli.isSet("check") && problems > 0 ? 1 : 0;
}
