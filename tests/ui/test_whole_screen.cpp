// The pages as the shipped program shows them on a real X server without a
// window manager, at the panel's two sizes: the station binary on Xvfb,
// driven only by mouse clicks (xdotool) at the places its own geometry dump
// (SIGUSR1 with STATION_TEST_GEOMETRY) names.
#include "BoardSim.h"
#include "Messages.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {

struct Xvfb {
    QProcess proc;
    QString display;
    bool start(const QString& size)
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty())
            return false;
        // The server picks a free display and writes its number on our pipe.
        proc.start("Xvfb", {"-displayfd", "1", "-screen", "0", size + "x24", "-nolisten", "tcp"});
        if (!proc.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (!out.contains('\n') && t.elapsed() < 10000 && proc.state() == QProcess::Running) {
            proc.waitForReadyRead(100);
            out += proc.readAllStandardOutput();
        }
        display = ":" + QString::fromLatin1(out).trimmed();
        return out.contains('\n');
    }
    ~Xvfb()
    {
        proc.terminate();
        if (!proc.waitForFinished(5000))
            proc.kill();
    }
};

struct WholeScreen : ::testing::TestWithParam<QString> {
    TestDir dir;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.is_psw_used = 0;  // the pages open without a password here
        wp.enable_cnt_net = 0;
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
        QImage scene(640, 480, QImage::Format_Grayscale8);
        scene.fill(90);
        ASSERT_TRUE(scene.save(dir.file("scene.png")));
    }
};

using Rects = QMap<QString, QRect>;

// Asks the running program where its widgets are; the answer is a new file.
Rects where(QProcess& station, const QString& file)
{
    Rects out;
    if (station.processId() <= 0)
        return out;  // never a signal to our own process group
    QFile::remove(file);
    ::kill(pid_t(station.processId()), SIGUSR1);
    if (!QTest::qWaitFor([&] { return QFile::exists(file); }, 10000))
        return out;  // busy: the caller asks again
    for (const QString& line : readText(file).split('\n', Qt::SkipEmptyParts)) {
        const QStringList p = line.split(' ');
        if (p.size() == 5)
            out.insert(p[0], QRect(p[1].toInt(), p[2].toInt(), p[3].toInt(), p[4].toInt()));
    }
    return out;
}

QStringList windows(const Rects& r)
{
    QStringList w;
    for (auto it = r.begin(); it != r.end(); ++it)
        if (it.key().startsWith("@window:"))
            w << it.key();
    return w;
}

// The station on the display, driven by taps at the places its dump names.
struct Panel {
    const Xvfb& x;
    QString geometry;
    QProcess station;
    Rects r;

    Panel(const Xvfb& display, const QString& geometryFile) : x(display), geometry(geometryFile) {}

    // answer: what every question box answers ("" none: they wait, and the keypads come up).
    bool start(const TestDir& dir, const BoardSim& board, const QString& answer = "no")
    {
        QProcessEnvironment env;
        env.insert("STATION_ANSWER", answer);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", x.display);
        env.insert("STATION_TEST_GEOMETRY", geometry);
        env.insert("STATION_CAMERA", "replay:" + dir.file("scene.png"));
        return startStation(station, dir.path(), board, env) && QTest::qWaitFor([&] {
            return recordRemarks(dir.file("RECORD.db")).filter("The system is ready").size() > 0;
        }, 30000);
    }
    // Waits until the named widget is on the screen.
    bool shows(const QString& name)
    {
        return QTest::qWaitFor([&] {
            r = where(station, geometry);
            return r.contains(name);
        }, 30000);
    }
    // The operator's tap on it, once it is there.
    bool tap(const QString& name)
    {
        if (!shows(name)) {
            ADD_FAILURE() << "not on the screen: " << qPrintable(name) << "; windows: " << qPrintable(windows(r).join(' '));
            return false;
        }
        const QPoint c = r.value(name).center();
        QProcess xdo;
        QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
        xenv.insert("DISPLAY", x.display);
        xdo.setProcessEnvironment(xenv);
        // No --sync: it waits for ever when the pointer is already there (the same key twice).
        xdo.start("xdotool", {"mousemove", QString::number(c.x()), QString::number(c.y()), "click", "1"});
        if (xdo.waitForFinished(10000) && xdo.exitCode() == 0)
            return true;
        ADD_FAILURE() << "xdotool: " << xdo.readAllStandardError().toStdString();
        return false;
    }
    // Waits until the named window is gone (a pad or box closed on its own).
    bool gone(const QString& window)
    {
        return QTest::qWaitFor([&] {
            r = where(station, geometry);
            return r.contains("@window:mainWindow") && !r.contains("@window:" + window);
        }, 10000);
    }
    // A new station greets with its guide: five steps to the end.
    bool passGuide()
    {
        for (int step = 0; step < 5; ++step)
            if (!tap("next"))
                return false;
        return gone("beginnerGuide");
    }
    // The screen as it is now, kept under the build's screenshots.
    void shoot(const QString& name)
    {
        const QString folder = QStringLiteral(STATION_SCREENSHOTS) + "/journey";
        QDir().mkpath(folder);
        QProcess::execute("import", {"-display", x.display, "-window", "root",
                                     folder + '/' + QString::number(r.value("@screen").width()) + '-' + name + ".png"});
    }
    ~Panel()
    {
        station.kill();
        station.waitForFinished(5000);
    }
};
} // namespace

TEST_P(WholeScreen, EveryPageOpensOverTheWholeScreen)
{
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    ASSERT_FALSE(QStandardPaths::findExecutable("xdotool").isEmpty()) << "xdotool is needed (./station.sh deps)";
    // The taps that open each page from the main screen.
    const QList<QStringList> paths{{"settings"},
                                   {"accounts"},
                                   {"regionEditor"},
                                   {"help"},
                                   {"cycleLog"},
                                   {"settings", "tabMaintenance", "ioNames"},
                                   {"settings", "tabMaintenance", "cavityNames"}};
    for (const QStringList& path : paths) {
        SCOPED_TRACE(path.join(" > ").toStdString());
        QFile::remove(dir.file("RECORD.db"));
        BoardSim board;
        ASSERT_TRUE(board.ok());
        Panel panel(x, dir.file("geometry.txt"));
        ASSERT_TRUE(panel.start(dir, board)) << readText(dir.file("station.err")).toStdString();
        // Up: the main window, over the whole screen, its title bar read from afar.
        ASSERT_TRUE(panel.shows("@window:mainWindow")) << readText(dir.file("station.err")).toStdString();
        const QRect screen = panel.r.value("@screen");
        EXPECT_EQ(panel.r.value("@window:mainWindow"), screen);
        EXPECT_EQ(panel.r.value("titleBar").width(), screen.width() - 2 * panel.r.value("titleBar").left());
        EXPECT_GE(panel.r.value("runState").height(), 40) << "the run state is read from two metres";
        for (int i = 0; i + 1 < path.size(); ++i)
            ASSERT_TRUE(panel.tap(path[i])) << qPrintable(path[i]);
        ASSERT_TRUE(panel.shows(path.last()));
        const QStringList before = windows(panel.r);
        ASSERT_TRUE(panel.tap(path.last()));
        // The page comes up as a window of its own, over the whole screen, its widgets on it.
        QString page;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            panel.r = where(panel.station, panel.geometry);
            for (const QString& w : windows(panel.r))
                if (!before.contains(w))
                    page = w;
            return !page.isEmpty();
        }, 10000)) << "no page opened";
        EXPECT_EQ(panel.r.value(page), screen) << qPrintable(page);
        // Nothing needs a sideways scroll: a page may scroll down, never across.
        for (auto it = panel.r.begin(); it != panel.r.end(); ++it) {
            if (it.key().startsWith('@') || it.value().width() == 0)
                continue;
            EXPECT_TRUE(it.value().left() >= screen.left() && it.value().right() <= screen.right())
                    << qPrintable(it.key()) << " leaves the screen sideways: " << it.value().x() << " "
                    << it.value().width() << " wide";
        }
    }
}

TEST_P(WholeScreen, TheSignalNamesAreTypedOnThePadKeptAndRecorded)
{
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board;
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    // Nothing answered for the operator: the keypads come up as they do on the panel.
    ASSERT_TRUE(panel.start(dir, board, "")) << readText(dir.file("station.err")).toStdString();
    ASSERT_TRUE(panel.passGuide());
    for (const char* t : {"settings", "tabMaintenance", "ioNames", "ioName3", "key_clear", "key_p", "key_r", "key_e",
                          "key_s", "key_s", "key_ok"})
        ASSERT_TRUE(panel.tap(t)) << t;
    // The pad has closed on the page; its save keeps the names for the next start.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        panel.r = where(panel.station, panel.geometry);
        return !panel.r.contains("@window:numCharPad");
    }, 10000));
    ASSERT_TRUE(panel.tap("save"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return readText(dir.file("name.txt")).split('\n').value(2) == "press"; }, 10000))
        << readText(dir.file("name.txt")).toStdString();
    EXPECT_EQ(readText(dir.file("name.txt")).split('\n').value(0), "Mol op");  // the others as they were
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return recordRemarks(dir.file("RECORD.db")).filter(LanStr(1738).section(':', 0, 0)).size() == 1;
    }, 10000));
    // Defaults: the file goes, the names follow the mode again.
    ASSERT_TRUE(panel.tap("ioNames"));
    ASSERT_TRUE(panel.tap("defaults"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(dir.file("name.txt")); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return recordRemarks(dir.file("RECORD.db")).contains(LanStr(1740)); }, 10000));
}

TEST_P(WholeScreen, TheEditorAfterResamplingGoesBackToDetectingHoweverItCloses)
{
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board;
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    ASSERT_TRUE(panel.start(dir, board, "yes")) << readText(dir.file("station.err")).toStdString();
    ASSERT_TRUE(panel.tap("resample"));
    // The next opening takes the new templates and opens the editor over the screen.
    board.send("set 1 1");
    ASSERT_TRUE(panel.shows("@window:regionEditor"));
    ASSERT_TRUE(panel.tap("cancel"));
    // Detection goes on: the mould standing open is judged at once. This factory
    // station has no regions yet: the judgement says so, and the mould stays shut.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return !recordRemarks(dir.file("RECORD.db")).filter(LanStr(1716).section('%', 0, 0)).isEmpty();
    }, 10000)) << "the opening was not judged";
    EXPECT_EQ(board.held() & 1, 1);
}

// An operator's first shift, by touch only: the keypads, the settings, the
// accounts' protection.
TEST_P(WholeScreen, AnOperatorsJourneyByTouch)
{
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.is_psw_used = 1;
        SetParaText(wp.password, "1234");
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
    }
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board;
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    ASSERT_TRUE(panel.start(dir, board, "")) << readText(dir.file("station.err")).toStdString();
    ASSERT_TRUE(panel.passGuide());
    panel.shoot("01-main");

    // Log in with the system password, typed on the text pad (shown as dots).
    for (const char* t : {"login", "password", "key_1", "key_2", "key_3", "key_4"})
        ASSERT_TRUE(panel.tap(t)) << t;
    panel.shoot("02-password");
    ASSERT_TRUE(panel.tap("key_ok"));
    ASSERT_TRUE(panel.gone("numCharPad"));
    ASSERT_TRUE(panel.tap("passwordOk"));
    ASSERT_TRUE(panel.gone("passwordBox"));

    // The product trigger delay to 7 on the number pad, confirmed.
    for (const char* t : {"settings", "finished_product_detect", "key_7"})
        ASSERT_TRUE(panel.tap(t)) << t;
    panel.shoot("03-numpad");
    ASSERT_TRUE(panel.tap("key_ok"));
    ASSERT_TRUE(panel.gone("numPad"));
    panel.shoot("04-settings");
    ASSERT_TRUE(panel.tap("confirm"));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return !recordRemarks(dir.file("RECORD.db")).filter(QRegularExpression("\\b7\\b")).isEmpty();
    }, 10000)) << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString();
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara saved;
        saved.LoadDatafromFile();
        EXPECT_EQ(saved.finished_product_detect, 7);
        dropConnections();
    }

    // Logged out, nobody may delete the administrator: refused, said and recorded.
    ASSERT_TRUE(panel.gone("settingsPage"));
    ASSERT_TRUE(panel.tap("login"));  // now "Log out"
    for (const char* t : {"accounts", "users#admin", "deleteUser"})
        ASSERT_TRUE(panel.tap(t)) << t;
    if (panel.shows("@window:chooseBox"))
        ASSERT_TRUE(panel.tap("yes"));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return !recordRemarks(dir.file("RECORD.db")).filter(LanStr(1729).section('(', 0, 0)).isEmpty();
    }, 10000)) << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString();
    panel.shoot("05-refused");
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "journeyUsers");
    db.setDatabaseName(dir.file("UserDataBase.db"));
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec("select count(*) from user_table where name = 'admin'") && q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
    db.close();
}

INSTANTIATE_TEST_SUITE_P(PanelSizes, WholeScreen, ::testing::Values(QString("1024x768"), QString("1920x1080")),
                         [](const auto& info) { return info.param.toStdString(); });
