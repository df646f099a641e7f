// station-savekill: every kind of save the station makes, killed (SIGKILL)
// at random moments, then the station's start-up and a check: every file
// opens, every database passes its integrity check, and what the save
// touched is the state before it or the state after it, never a mix, and
// nothing kept before it is lost.
//
//   station-savekill sweep [--trials N] [--kinds a,b,...]   the sweep, a table per kind
//   station-savekill list                                   the kinds
//   station-savekill prepare|save|state KIND DIR            one step, in DIR (the sweep's children)
//
// The sweep exits 1 when any trial ends corrupt, mixed or with a loss.
#include "Counters.h"
#include "CammerSingleton.h"
#include "CavityNames.h"
#include "DetectCycleSQL.h"
#include "DetectionCycle.h"
#include "FactoryDir.h"
#include "Globals.h"
#include "OperationRecord.h"
#include "ParaGroups.h"
#include "ParamDb.h"
#include "ResStatistics.h"
#include "TemplateStore.h"
#include "UserManager.h"
#include "WizardPara.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <unistd.h>

namespace {

// ---- what a kind's state reads like -------------------------------------

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "missing";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex().left(12);
}

// Every file below dir with its content, in name order.
QString treeHash(const QString& dir)
{
    if (!QFileInfo(dir).isDir())
        return QStringLiteral("none");
    QStringList lines;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        lines << QDir(dir).relativeFilePath(p) + '=' + QString::fromLatin1(fileHash(p));
    }
    lines.sort();
    return lines.join(',');
}

QString query(const QString& file, const QString& sql)
{
    QString out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "savekill-read");
        db.setDatabaseName(file);
        if (!QFile::exists(file) || !db.open())
            out = QStringLiteral("unreadable");
        else {
            QSqlQuery q(db);
            if (!q.exec(sql))
                out = QStringLiteral("unreadable");
            while (q.next()) {
                QStringList cols;
                for (int i = 0; i < q.record().count(); ++i)
                    cols << q.value(i).toString();
                out += cols.join('|') + ';';
            }
        }
    }
    QSqlDatabase::removeDatabase("savekill-read");
    return out;
}

// Every database below the working directory opens and passes its check.
QStringList corruptDatabases()
{
    QStringList bad;
    QDirIterator it(".", {"*.db"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        if (query(p, "PRAGMA integrity_check") != "ok;")
            bad << p;
    }
    return bad;
}

// ---- the station's pieces, as its start-up makes them --------------------

WizardPara* gWp = nullptr;
// When the save happens, and so when the start after it happens.
QDateTime gWhen;

// The start-up's steps for files: a restore finished, databases opened (and
// recovered), parameters and counters read.
void startUp()
{
    paragroups::finishPendingRestore();
    OperationRecord::instance().finishDayChange();
    paramdb::openAll({});
    static WizardPara wp;
    wp.LoadDatafromFile();
    wp.is_psw_used = 0;
    gWp = &wp;
    gpWPara = &wp;
    numCamera = 2;
    CountRead();
}

cv::Mat picture(int seed)
{
    cv::Mat m(48, 64, CV_8UC1);
    cv::randu(m, cv::Scalar(seed), cv::Scalar(seed + 80));
    return m;
}

TemplateStore store()
{
    TemplateStore t(0, 5, 64, 48, false);
    t.LoadAll();
    return t;
}

QString templatesState()
{
    TemplateStore t = store();
    QStringList s;
    for (int k = 0; k < t.slotCount(); ++k)
        s << (t.used(1, k) ? QString::fromLatin1(QCryptographicHash::hash(
                                 QByteArray(reinterpret_cast<const char*>(t.slot(1, k).data), int(t.slot(1, k).total())),
                                 QCryptographicHash::Sha1).toHex().left(8))
                           : QStringLiteral("-"));
    return s.join(',');
}

QString regionsState()
{
    CammerSingleton c(0);
    c.LoadDatafromFile();
    QStringList s{QString::number(c.roi_count[1])};
    for (int r = 0; r < c.roi_count[1]; ++r)
        s << QStringLiteral("%1:%2,%3,%4,%5")
                 .arg(c.roi[1][r].sensibility)
                 .arg(c.rects[1][r].p1.x)
                 .arg(c.rects[1][r].p1.y)
                 .arg(c.rects[1][r].p2.x)
                 .arg(c.rects[1][r].p2.y);
    return s.join(' ');
}

bool login(const QString& name, const QString& password)
{
    QString m;
    return UserManager::instance().changeUser(name, password, m);
}

QString accountsState()
{
    UserManager& um = UserManager::instance();
    um.connectDatabase();
    std::vector<QString> names;
    std::vector<int> types;
    um.getAllUsersName(names, types);
    QStringList s;
    for (size_t i = 0; i < names.size(); ++i)
        s << names[i] + '/' + QString::number(types[i]);
    s.sort();
    // The technician's password, as a login finds it.
    s << (login("li", "abc") ? "li:abc" : login("li", "xyz") ? "li:xyz" : "li:-");
    um.LogOut();
    return s.join(',');
}

QString statisticsState()
{
    ResStatisticsParam st([] { return gWhen; });
    const CountAllCamera& l = st.live();
    QStringList s{st.dayName(), QString::number(st.getCount(WholeDay, true, 8, 8)),
                  QString::number(st.getCount(WholeDay, false, 8, 8))};
    for (const QString& day : st.archivedDays())
        s << day + '=' + fileHash("ResStatistics/" + day + ".db");
    Q_UNUSED(l);
    return s.join(' ');
}

QString cycleLogState()
{
    // The start opens the log, which puts its day in order.
    DetectCycleSQL::reset([] { return gWhen; });
    DetectCycleSQL::instance()->closeDB();
    QStringList s{QString::number(DetectCycleSQL::storedLogDate().toJulianDay()),
                  query("DetectCycle.db", "select count(*), max(roundstart) from detect_cycle")};
    for (const QString& f : QDir("DetectCycle").entryList({"*.db"}, QDir::Files, QDir::Name))
        s << f + '=' + query("DetectCycle/" + f, "select count(*) from detect_cycle");
    return s.join(' ');
}

QString recordState()
{
    // The start checks the record's day.
    OperationRecord::instance().today = [] { return gWhen.date(); };
    OperationRecord::instance().loadRecordDate();
    OperationRecord::instance().SlotCheckDate();
    QStringList s{query("RECORD.db", "select count(*) from RECORD"),
                  query("RECORD.db", "select remarks from RECORD order by rowid desc limit 1")};
    for (const QString& f : QDir("RECORD").entryList({"*.db"}, QDir::Files, QDir::Name))
        s << f + '=' + query("RECORD/" + f, "select count(*) from RECORD");
    return s.join(' ');
}

QString groupState(const QString& name) { return name + ':' + treeHash("paraGroup/" + name); }

// The working set-up a restore replaces: parameters, regions and templates as the start reads them.
QString setupState()
{
    return QStringLiteral("pulse=%1 regions=%2 templates=%3").arg(gWp->mold_pulse).arg(regionsState(), templatesState());
}

// ---- the kinds ----------------------------------------------------------

struct Kind {
    // The state before: run to completion in a fresh working directory.
    std::function<void()> prepare;
    // The save, after the pieces it needs are up (its own start-up).
    std::function<void()> save;
    // The kind's state after a restart.
    std::function<QString()> state;
    // When it happens.
    QDateTime when = QDateTime(QDate(2026, 12, 10), QTime(10, 30));
    // The start after it finishes what it began (a day change): the state
    // before and after are then the same once started.
    bool restartFinishes = false;
    // A save another program makes: run in place of save (same process, so the kill finds it).
    std::function<QStringList()> program;
    // When the start after it happens, when not at once.
    QDateTime restartAt;
};

// Runs a program in the working directory; its standard output.
QString output(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The network client's own code, on the outbox in this working directory.
QStringList client(const QString& code)
{
    return {"python3", "-c", "import sys; sys.path.insert(0, 'cnt_net'); import runNetClient as c; db = c.open_outbox(); " + code};
}

// A program tree of version n, packed as the update expects it.
void pack(int n, const QString& archive)
{
    QDir().mkpath("pack/bin");
    QDir().mkpath("pack/lib");
    QFile bin("pack/bin/station");
    bin.open(QIODevice::WriteOnly);
    bin.write("version " + QByteArray::number(n));
    bin.close();
    for (int i = 0; i < 16; ++i) {
        QFile lib(QStringLiteral("pack/lib/part%1").arg(i));
        lib.open(QIODevice::WriteOnly);
        lib.write(QByteArray(64 * 1024, char('a' + n)));
    }
    QProcess::execute("tar", {"czf", archive, "-C", "pack", "bin", "lib"});
    QDir("pack").removeRecursively();
}

QDateTime at(int day, int hour) { return QDateTime(QDate(2026, 12, day), QTime(hour, 30)); }

void addTemplate(int seed)
{
    TemplateStore t = store();
    t.AddTemplate(1, picture(seed));
}

void setRegions(int count, int sensibility)
{
    CammerSingleton c(0);
    c.LoadDatafromFile();
    while (c.roi_count[1] > 0)
        c.DeleteROI(1, 0);
    for (int i = 0; i < count; ++i) {
        const int r = c.AddRect(1, {2 + i * 6, 2}, {6 + i * 6, 20}, *gWp);
        if (r >= 0)
            c.roi[1][r].sensibility = sensibility;
    }
    c.SaveDatatoFile();
}

void setSetup(int pulse, int regions, int seed)
{
    gWp->mold_pulse = pulse;
    gWp->SaveDatatoFile();
    setRegions(regions, 10 + pulse);
    addTemplate(seed);
}

std::map<QString, Kind> kinds()
{
    std::map<QString, Kind> k;
    k["settings-confirm"] = {[] { gWp->mold_pulse = 3; gWp->max_mold_num = 10; gWp->SaveDatatoFile(); },
                             [] { gWp->mold_pulse = 9; gWp->max_mold_num = 20; gWp->shake_erase_time = 4; gWp->SaveDatatoFile(); },
                             [] { return QStringLiteral("%1 %2 %3").arg(gWp->mold_pulse).arg(gWp->max_mold_num).arg(gWp->shake_erase_time); }};
    k["region-editor-save"] = {[] { setRegions(3, 20); }, [] { setRegions(7, 35); }, regionsState};
    k["add-as-template"] = {[] { addTemplate(10); }, [] { addTemplate(90); }, templatesState};
    k["template-delete"] = {[] { addTemplate(10); addTemplate(90); },
                            [] { TemplateStore t = store(); t.DeleteCurrent(1, 1); }, templatesState};
    k["cavity-names-accept"] = {[] {},
                                [] {
                                    EditCavitywidget page;
                                    page.init();
                                    for (int i = 0; i < kCavityNames; ++i)
                                        page.edit(i)->setText(QStringLiteral("cavity-%1").arg(i));
                                    page.Accept();
                                },
                                [] {
                                    EditCavitywidget page;
                                    QStringList s;
                                    for (int i = 0; i < kCavityNames; ++i)
                                        s << page.getResult(0, i);
                                    return s.join(',');
                                }};
    const auto asAdmin = [] {
        UserManager::instance().connectDatabase();
        login("admin", "5260");
    };
    k["account-add"] = {[] {}, [asAdmin] { asAdmin(); QString m; UserManager::instance().addUser(2, "li", "abc", m); }, accountsState};
    k["account-delete"] = {[asAdmin] { asAdmin(); QString m; UserManager::instance().addUser(2, "li", "abc", m); },
                           [asAdmin] { asAdmin(); QString m; UserManager::instance().deleteUser("li", m); }, accountsState};
    k["account-password"] = {[asAdmin] { asAdmin(); QString m; UserManager::instance().addUser(2, "li", "abc", m); },
                             [] {
                                 UserManager::instance().connectDatabase();
                                 login("li", "abc");
                                 QString m;
                                 UserManager::instance().changeUserPassword("abc", "xyz", m);
                             },
                             accountsState};
    k["group-backup"] = {[] { setSetup(4, 3, 20); }, [] { paragroups::backup("g1", 2); }, [] { return groupState("g1"); }};
    k["group-restore"] = {[] {
                              setSetup(6, 5, 60);
                              paragroups::backup("g1", 2);
                              setSetup(2, 2, 20);
                          },
                          [] { paragroups::restore("g1", 2); }, setupState};
    k["group-delete"] = {[] { setSetup(4, 3, 20); paragroups::backup("g1", 2); }, [] { paragroups::remove("g1"); },
                         [] { return groupState("g1"); }};
    k["statistics-judgement"] = {[] {
                                     ResStatisticsParam st([] { return at(10, 10); });
                                     for (int i = 0; i < 5; ++i)
                                         st.Add(10, i % 2, 0, 1);
                                 },
                                 [] { ResStatisticsParam st([] { return at(10, 11); }); st.Add(11, false, 1, 1); },
                                 statisticsState};
    k["statistics-day-change"] = {[] {
                                      ResStatisticsParam st([] { return at(10, 10); });
                                      for (int i = 0; i < 5; ++i)
                                          st.Add(10, i % 2, 0, 1);
                                  },
                                  [] { ResStatisticsParam st([] { return gWhen; }); st.checkDate(); },
                                  statisticsState, at(11, 9), true};
    k["cycle-log-row"] = {[] {
                              DetectCycleSQL::reset([] { return at(10, 10); });
                              for (int i = 0; i < 5; ++i)
                                  DetectCycleSQL::instance()->insertDate({QStringLiteral("2026-12-10 10:30:0%1.000").arg(i), 1.5});
                          },
                          [] {
                              DetectCycleSQL::reset([] { return at(10, 10); });
                              DetectCycleSQL::instance()->insertDate({"2026-12-10 10:31:00.000", 2.5});
                          },
                          cycleLogState};
    k["cycle-log-day-change"] = {[] {
                                     DetectCycleSQL::reset([] { return at(10, 10); });
                                     for (int i = 0; i < 5; ++i)
                                         DetectCycleSQL::instance()->insertDate({QStringLiteral("2026-12-10 10:30:0%1.000").arg(i), 1.5});
                                 },
                                 [] {
                                     DetectCycleSQL::reset([] { return gWhen; });
                                     DetectCycleSQL::instance()->checkDate();
                                 },
                                 cycleLogState, at(11, 10), true};
    // A row cut short, and the start on the next day archives the file.
    k["cycle-log-row-next-day"] = {k["cycle-log-row"].prepare, k["cycle-log-row"].save, cycleLogState};
    k["cycle-log-row-next-day"].restartAt = at(11, 10);
    k["operation-record"] = {[] { OperationRecord::instance().InsertRecord("before"); },
                             [] { OperationRecord::instance().InsertRecord("the line the kill may cut"); }, recordState};
    k["operation-record-day-change"] = {[] {
                                            OperationRecord::instance().today = [] { return QDate(2026, 12, 10); };
                                            OperationRecord::instance().loadRecordDate();
                                            OperationRecord::instance().SlotCheckDate();
                                            OperationRecord::instance().InsertRecord("the day's line");
                                        },
                                        [] {
                                            OperationRecord::instance().today = [] { return gWhen.date(); };
                                            OperationRecord::instance().loadRecordDate();
                                            OperationRecord::instance().SlotCheckDate();
                                        },
                                        recordState, at(11, 10), true};
    k["counters"] = {[] { gAllNum[0] = 100; gFailNum[0] = 7; CountWrite(); },
                     [] { gAllNum[0] = 101; gFailNum[0] = 8; gAllNum[1] = 5; CountWrite(); },
                     [] { return QStringLiteral("%1 %2 %3").arg(gAllNum[0]).arg(gFailNum[0]).arg(gAllNum[1]); }};
    k["alarm-state"] = {[] { DetectionCycle::writeAlarmState("0 0\n"); }, [] { DetectionCycle::writeAlarmState("1 0,1\n"); },
                        [] { return QString::fromLatin1(fileHash(DetectionCycle::alarmStateFile())); }};
    k["program-update-install"] = {[] {
                                       pack(1, "v1.tar.gz");
                                       QProcess::execute(STATION_UPDATE, {"install", "v1.tar.gz", "program"});
                                       QFile::remove("v1.tar.gz");
                                       pack(2, "newupdate.tar.gz");
                                   },
                                   {},
                                   [] {
                                       // The service's step before the station starts.
                                       output(STATION_UPDATE, {"before-start", "--workdir", ".", "--attempts", "2"});
                                       return "program=" + treeHash("program") + " prev=" + treeHash("program.prev");
                                   },
                                   QDateTime(QDate(2026, 12, 10), QTime(10, 30)), true,
                                   [] { return QStringList{STATION_UPDATE, "before-start", "--workdir", ".", "--attempts", "2"}; }};
    k["client-outbox"] = {[] {
                              QProcess::execute(client("[c.keep(db, 7, b'statistics %d' % i, 100 + i) for i in range(5)]")[0],
                                                client("[c.keep(db, 7, b'statistics %d' % i, 100 + i) for i in range(5)]").mid(1));
                          },
                          {},
                          [] {
                              const QStringList p = client("print(db.execute('SELECT COUNT(*), MAX(seq), GROUP_CONCAT(link_seq) FROM outbox').fetchone())");
                              return output(p[0], p.mid(1));
                          },
                          QDateTime(QDate(2026, 12, 10), QTime(10, 30)), false,
                          [] { return client("c.keep(db, 16, b'telephone', 200)"); }};
    return k;
}

// ---- the children -------------------------------------------------------

int step(const QString& what, const QString& kind, const QString& dir)
{
    const auto all = kinds();
    const auto it = all.find(kind);
    if (it == all.end() || !QDir::setCurrent(dir)) {
        std::fprintf(stderr, "no kind %s or no folder %s\n", qPrintable(kind), qPrintable(dir));
        return 2;
    }
    startUp();
    if (what == "prepare") {
        gWhen = at(10, 10);
        it->second.prepare();
        return 0;
    }
    gWhen = what == "state" && it->second.restartAt.isValid() ? it->second.restartAt : it->second.when;
    if (what == "save") {
        QElapsedTimer t;
        // The parent kills from here on.
        std::printf("go\n");
        std::fflush(stdout);
        if (it->second.program) {
            const QStringList p = it->second.program();
            std::vector<QByteArray> words;
            for (const QString& w : p)
                words.push_back(w.toLocal8Bit());
            std::vector<char*> argv;
            for (QByteArray& w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            std::perror("exec");
            return 2;
        }
        t.start();
        it->second.save();
        std::printf("done %lld\n", t.nsecsElapsed() / 1000);
        std::fflush(stdout);
        return 0;
    }
    // state: the databases first, then what the kind touched.
    const QStringList bad = corruptDatabases();
    if (!bad.isEmpty()) {
        std::printf("corrupt %s\n", qPrintable(bad.join(',')));
        return 0;
    }
    std::printf("state %s\n", qPrintable(it->second.state()));
    return 0;
}

// ---- the sweep ----------------------------------------------------------

struct Child {
    QString out;
    bool ok = false;
};

QString self;

Child run(const QStringList& args, int timeoutMs = 120000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(self, args);
    Child c;
    c.ok = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    c.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return c;
}

bool copyDir(const QString& from, const QString& to)
{
    QDir(to).removeRecursively();
    return QProcess::execute("cp", {"-a", from, to}) == 0;
}

struct Tally {
    int trials = 0, cut = 0, old = 0, fresh = 0, corrupt = 0, mixed = 0;
};

int sweep(int trials, const QStringList& only)
{
    QTemporaryDir base;
    if (!base.isValid())
        return 2;
    QRandomGenerator rng(QRandomGenerator::global()->generate());
    bool failed = false;
    std::printf("%-28s %7s %5s %5s %5s %8s %6s\n", "kind", "trials", "cut", "old", "new", "corrupt", "mixed");
    for (const auto& [name, kind] : kinds()) {
        if (!only.isEmpty() && !only.contains(name))
            continue;
        const QString ready = base.filePath(name + "-ready"), trial = base.filePath(name + "-trial");
        QString error;
        if (!factory::makeWorkingDir(ready, &error) || !run({"prepare", name, ready}).ok) {
            std::printf("%-28s cannot prepare: %s\n", qPrintable(name), qPrintable(error));
            failed = true;
            continue;
        }
        // A start may change what it finds (a day change): always on a copy.
        if (!copyDir(ready, trial))
            return 2;
        const QString old = run({"state", name, trial}).out;
        // The whole save once: its state afterwards and how long it takes.
        if (!copyDir(ready, trial))
            return 2;
        // Timed from "go" to the end, as the kills below are.
        Child whole;
        qint64 us = 0;
        {
            QProcess p;
            p.start(self, {"save", name, trial});
            QByteArray said;
            while (!said.contains("go\n") && p.waitForReadyRead(30000))
                said += p.readAllStandardOutput();
            QElapsedTimer t;
            t.start();
            whole.ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
            us = t.nsecsElapsed() / 1000;
        }
        const QString fresh = run({"state", name, trial}).out;
        if (!whole.ok || !old.startsWith("state ") || !fresh.startsWith("state ") || (old == fresh) != kind.restartFinishes) {
            std::printf("%-28s not a save to sweep: before \"%s\", after \"%s\"\n", qPrintable(name), qPrintable(old),
                        qPrintable(fresh));
            failed = true;
            continue;
        }
        Tally t;
        for (int i = 0; i < trials; ++i) {
            if (!copyDir(ready, trial))
                return 2;
            QProcess p;
            p.start(self, {"save", name, trial});
            if (!p.waitForStarted(10000))
                return 2;
            // Wait for "go": the kill lands in the save, not in the start-up before it.
            QByteArray said;
            while (!said.contains("go\n") && p.waitForReadyRead(30000))
                said += p.readAllStandardOutput();
            // Weighted towards the start: a save's own writes often come
            // early, before a long sync or the process's exit.
            const double u = rng.generateDouble();
            QThread::usleep(quint64(double(std::max<qint64>(us * 12 / 10, 100)) * u * u));
            p.kill();
            p.waitForFinished(10000);
            ++t.trials;
            t.cut += p.exitStatus() == QProcess::CrashExit ? 1 : 0;
            const QString got = run({"state", name, trial}).out;
            if (got == old)
                ++t.old;
            else if (got == fresh)
                ++t.fresh;
            else if (!got.startsWith("state "))
                ++t.corrupt;
            else
                ++t.mixed;
            if (got != old && got != fresh)
                std::fprintf(stderr, "%s trial %d: %s\n    before %s\n    after  %s\n", qPrintable(name), i,
                             qPrintable(got), qPrintable(old), qPrintable(fresh));
        }
        std::printf("%-28s %7d %5d %5d %5d %8d %6d\n", qPrintable(name), t.trials, t.cut, t.old, t.fresh, t.corrupt,
                    t.mixed);
        std::fflush(stdout);
        failed = failed || t.corrupt || t.mixed;
    }
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("STATION_ANSWER", "no");
    QApplication app(argc, argv);
    self = QCoreApplication::applicationFilePath();
    const QStringList a = app.arguments().mid(1);
    if (a.value(0) == "list") {
        for (const auto& [name, kind] : kinds())
            std::printf("%s\n", qPrintable(name));
        return 0;
    }
    if (a.size() == 3 && (a[0] == "prepare" || a[0] == "save" || a[0] == "state"))
        return step(a[0], a[1], a[2]);
    if (a.value(0) == "sweep") {
        int trials = 100;
        QStringList only;
        for (int i = 1; i + 1 < a.size(); i += 2) {
            if (a[i] == "--trials")
                trials = std::max(1, a[i + 1].toInt());
            else if (a[i] == "--kinds")
                only = a[i + 1].split(',', Qt::SkipEmptyParts);
        }
        return sweep(trials, only);
    }
    std::fprintf(stderr, "usage: station-savekill sweep [--trials N] [--kinds a,b] | list | prepare|save|state KIND DIR\n");
    return 2;
}
