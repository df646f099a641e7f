// The update installer: unsafe archives refused before anything is written,
// a good one installed with the previous version kept, and a version that
// never reaches detecting rolled back.
#include "Installer.h"
#include "StartupFiles.h"
#include "TestDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

namespace {
struct Entry {
    QString path;
    QByteArray data;           // a file
    QString link;              // a symbolic link when set
    QString hardlink;          // a hard link when set
    mode_t type = AE_IFREG;
};

bool writeArchive(const QString& file, const QList<Entry>& entries)
{
    archive* a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
    if (archive_write_open_filename(a, QFile::encodeName(file).constData()) != ARCHIVE_OK)
        return false;
    for (const Entry& e : entries) {
        archive_entry* en = archive_entry_new();
        archive_entry_set_pathname(en, e.path.toUtf8().constData());
        archive_entry_set_perm(en, 0755);
        if (!e.link.isEmpty()) {
            archive_entry_set_filetype(en, AE_IFLNK);
            archive_entry_set_symlink(en, e.link.toUtf8().constData());
        } else if (!e.hardlink.isEmpty()) {
            archive_entry_set_hardlink(en, e.hardlink.toUtf8().constData());
        } else {
            archive_entry_set_filetype(en, e.type);
            archive_entry_set_size(en, e.type == AE_IFREG ? e.data.size() : 0);
        }
        archive_write_header(a, en);
        if (e.type == AE_IFREG && e.link.isEmpty() && e.hardlink.isEmpty())
            archive_write_data(a, e.data.constData(), size_t(e.data.size()));
        archive_entry_free(en);
    }
    const bool ok = archive_write_close(a) == ARCHIVE_OK;
    archive_write_free(a);
    return ok;
}

QByteArray content(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A working directory with version 1 installed.
struct Update : ::testing::Test {
    TestDir dir;
    QString work, program;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        work = dir.path();
        program = work + "/program";
        ASSERT_TRUE(writeArchive(work + "/v1.tar.gz", {{"bin/station", "version 1"}}));
        ASSERT_TRUE(updater::install(work + "/v1.tar.gz", program).ok);
        ASSERT_TRUE(updater::endSwap(program));
    }
    QString archive(const QString& name = "newupdate.tar.gz") const { return work + '/' + name; }
};
} // namespace

TEST_F(Update, UnsafeEntriesRefuseTheWholeArchiveBeforeAnythingIsWritten)
{
    const QList<QList<Entry>> unsafe = {
        {{"bin/station", "evil"}, {"../outside", "x"}},
        {{"bin/station", "evil"}, {"bin/../../outside", "x"}},
        {{"/etc/station-owned", "x"}},
        {{"bin/station", "evil"}, {"lib/escape", {}, "../../../etc"}},
        {{"bin/station", "evil"}, {"lib/abs", {}, "/etc/passwd"}},
        {{"bin/station", "evil"}, {"hard", {}, {}, "../outside"}},
        {{"fifo", {}, {}, {}, AE_IFIFO}},
    };
    for (int i = 0; i < unsafe.size(); ++i) {
        ASSERT_TRUE(writeArchive(archive(), unsafe[i])) << i;
        const updater::Result c = updater::check(archive());
        EXPECT_FALSE(c.ok) << i;
        EXPECT_EQ(c.refused.size(), 1) << i << ": " << c.refused.join('|').toStdString();
        bool nothing = true;
        const updater::Result r = updater::beforeStart(work, 2, &nothing);
        EXPECT_FALSE(nothing);
        EXPECT_FALSE(r.ok) << i;
        EXPECT_TRUE(r.message.startsWith("update refused")) << r.message.toStdString();
        // Nothing written anywhere, version 1 still in place, the archive kept aside once.
        EXPECT_EQ(content(program + "/bin/station"), "version 1") << i;
        EXPECT_FALSE(QFileInfo::exists(work + "/outside"));
        EXPECT_FALSE(QFileInfo::exists(program + ".new"));
        EXPECT_FALSE(QFileInfo::exists(archive()));
        EXPECT_TRUE(QFileInfo::exists(archive() + ".refused"));
        EXPECT_FALSE(QFileInfo::exists(work + "/update.pending"));
        EXPECT_TRUE(content(work + "/update.result").startsWith("update refused")) << i;
    }
    EXPECT_EQ(content(work + "/update.log").count('\n'), unsafe.size());
}

TEST_F(Update, AGoodArchiveInstallsKeepsThePreviousAndIsConfirmedByDetecting)
{
    ASSERT_TRUE(writeArchive(archive("newupdate.tar.xz"),
                             {{"bin/station", "version 2"}, {"lib/libx.so.2", "lib"}, {"lib/libx.so", {}, "libx.so.2"},
                              {"share/../bin/tool", "inside"}}));
    // ".." that stays inside is still refused: the rule is simple on purpose.
    EXPECT_FALSE(updater::check(archive("newupdate.tar.xz")).ok);
    QFile::remove(archive("newupdate.tar.xz"));
    ASSERT_TRUE(writeArchive(archive("newupdate.tar.xz"),
                             {{"bin/station", "version 2"}, {"lib/libx.so.2", "lib"}, {"lib/libx.so", {}, "libx.so.2"},
                              {"lib/up", {}, "../bin"}}));
    const updater::Result r = updater::beforeStart(work, 2);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(content(program + "/bin/station"), "version 2");
    EXPECT_EQ(content(program + "/lib/libx.so"), "lib");
    EXPECT_EQ(content(program + "/lib/up/station"), "version 2");
    EXPECT_EQ(content(program + ".prev/bin/station"), "version 1");
    EXPECT_TRUE(QFileInfo::exists(archive("newupdate.tar.xz.installed")));
    EXPECT_EQ(content(work + "/update.pending"), "0");

    // The station takes the result for its record once, and confirms when detecting.
    EXPECT_TRUE(startup::takeUpdateResult().startsWith("update installed from newupdate.tar.xz"));
    EXPECT_TRUE(startup::takeUpdateResult().isEmpty());
    EXPECT_TRUE(startup::confirmUpdate());
    EXPECT_FALSE(startup::confirmUpdate());
    // Confirmed: later starts change nothing.
    for (int i = 0; i < 3; ++i) {
        bool nothing = false;
        EXPECT_TRUE(updater::beforeStart(work, 2, &nothing).ok);
        EXPECT_TRUE(nothing);
    }
    EXPECT_EQ(content(program + "/bin/station"), "version 2");
}

TEST_F(Update, AVersionThatNeverReachesDetectingIsRolledBack)
{
    ASSERT_TRUE(writeArchive(archive(), {{"bin/station", "version 2"}}));
    ASSERT_TRUE(updater::beforeStart(work, 2).ok);  // installed
    // Two starts that never confirm.
    for (int i = 0; i < 2; ++i) {
        bool nothing = false;
        updater::beforeStart(work, 2, &nothing);
        EXPECT_TRUE(nothing) << i;
        EXPECT_EQ(content(program + "/bin/station"), "version 2");
    }
    const updater::Result r = updater::beforeStart(work, 2);
    EXPECT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_TRUE(r.message.contains("rolled back")) << r.message.toStdString();
    EXPECT_EQ(content(program + "/bin/station"), "version 1");
    EXPECT_EQ(content(program + ".failed/bin/station"), "version 2");
    EXPECT_FALSE(QFileInfo::exists(work + "/update.pending"));
    EXPECT_TRUE(content(work + "/update.result").contains("did not reach detecting in 2 starts"));
}

TEST_F(Update, AFirstUpdateThatNeverReachesDetectingGivesWayToThePackagedProgram)
{
    // A station with no update yet: nothing to go back to but the package.
    ASSERT_TRUE(QDir(program).removeRecursively());
    ASSERT_TRUE(writeArchive(archive(), {{"bin/station", "version 2"}}));
    ASSERT_TRUE(updater::beforeStart(work, 2).ok);
    EXPECT_EQ(content(program + "/bin/station"), "version 2");
    for (int i = 0; i < 2; ++i)
        updater::beforeStart(work, 2);
    const updater::Result r = updater::beforeStart(work, 2);
    EXPECT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_TRUE(r.message.contains("the packaged program runs")) << r.message.toStdString();
    // The launcher finds no update and runs the package; the failed one is kept.
    EXPECT_FALSE(QFileInfo::exists(program));
    EXPECT_EQ(content(program + ".failed/bin/station"), "version 2");
    EXPECT_FALSE(QFileInfo::exists(work + "/update.pending"));
    bool nothing = false;
    EXPECT_TRUE(updater::beforeStart(work, 2, &nothing).ok);
    EXPECT_TRUE(nothing);
}

TEST_F(Update, ADamagedArchiveLeavesTheRunningVersion)
{
    ASSERT_TRUE(writeArchive(archive(), {{"bin/station", QByteArray(200000, 'x')}}));
    QFile f(archive());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(f.size() / 2));
    f.close();
    const updater::Result r = updater::beforeStart(work, 2);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(content(program + "/bin/station"), "version 1");
    EXPECT_FALSE(QFileInfo::exists(program + ".new"));
    EXPECT_FALSE(QFileInfo::exists(work + "/update.pending"));
}

namespace {
// The installer killed (SIGKILL) at a random moment of its work, then the
// next start: what it leaves must always be one whole version, never a mix,
// never an empty program file. STATION_KILL_TRIALS sets the number of kills.
struct KilledUpdate : Update {
    // The files of version n: enough of them that a kill lands inside the work.
    QList<Entry> version(int n) const
    {
        QList<Entry> files{{"bin/station", QByteArray("version ") + QByteArray::number(n)}};
        for (int i = 0; i < 24; ++i)
            files << Entry{QStringLiteral("lib/part%1").arg(i), QByteArray(64 * 1024, char('a' + n)), {}, {}, AE_IFREG};
        return files;
    }
    // Which version the tree holds, whole; -1 for a mix or a missing file.
    int wholeVersion(const QString& tree) const
    {
        const QByteArray bin = content(tree + "/bin/station");
        if (!bin.startsWith("version "))
            return -1;
        const int n = bin.mid(8).toInt();
        for (int i = 0; i < 24; ++i)
            if (content(tree + QStringLiteral("/lib/part%1").arg(i)) != QByteArray(64 * 1024, char('a' + n)))
                return -1;
        return n;
    }
    // Runs the shipped installer before a start and kills it after delayUs; false: it could not run.
    bool startKilled(qint64 delayUs, bool* finished)
    {
        QProcess p;
        p.start(STATION_UPDATE, {"before-start", "--workdir", work, "--attempts", "2"});
        if (!p.waitForStarted(10000))
            return false;
        QThread::usleep(quint64(delayUs));
        p.kill();
        p.waitForFinished(10000);
        *finished = p.exitStatus() == QProcess::NormalExit;
        return true;
    }
    // A whole start of the installer, as the service's next start runs it.
    updater::Result nextStart()
    {
        QProcess p;
        p.start(STATION_UPDATE, {"before-start", "--workdir", work, "--attempts", "2"});
        p.waitForFinished(60000);
        updater::Result r;
        r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        r.message = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
        return r;
    }
    int trials() const
    {
        const int n = qEnvironmentVariableIntValue("STATION_KILL_TRIALS");
        return n > 0 ? n : 12;
    }
    // How long one uncut run takes, to spread the kills over it.
    qint64 runTimeUs(const std::function<void()>& prepare)
    {
        prepare();
        QElapsedTimer t;
        t.start();
        nextStart();
        return std::max<qint64>(t.nsecsElapsed() / 1000, 1000);
    }
    // Version 1 installed and version 2 waiting as the update, nothing else.
    void versionOneWithTwoWaiting()
    {
        for (const char* d : {"", ".prev", ".new", ".failed"})
            QDir(program + d).removeRecursively();
        for (const QString& f : QDir(work).entryList({"newupdate*", "update.*", "program.*"}, QDir::Files))
            QFile::remove(work + '/' + f);
        ASSERT_TRUE(writeArchive(work + "/v1.tar.gz", version(1)));
        ASSERT_TRUE(updater::install(work + "/v1.tar.gz", program).ok);
        ASSERT_TRUE(updater::endSwap(program));
        ASSERT_TRUE(writeArchive(archive(), version(2)));
    }
    // Trials of: prepare, the installer killed at a random moment of its
    // run, the next start, check(trial). Returns the kills that cut the work.
    int killAtRandom(const std::function<void()>& prepare, quint32 seed, const std::function<void(int)>& check)
    {
        const qint64 span = runTimeUs(prepare);
        QRandomGenerator rng(seed);
        int cut = 0;
        for (int t = 0; t < trials() && !HasFailure(); ++t) {
            prepare();
            bool finished = false;
            if (!startKilled(qint64(rng.bounded(quint32(span * 12 / 10))), &finished)) {
                ADD_FAILURE() << "the installer did not start";
                break;
            }
            cut += finished ? 0 : 1;
            // Right after the kill: a whole version, or none while one is being
            // moved in (the launcher then runs the package), never a mix.
            if (QFileInfo::exists(program)) {
                EXPECT_GE(wholeVersion(program), 1) << "trial " << t << ": a mix in the program tree";
            }
            const updater::Result r = nextStart();
            EXPECT_TRUE(r.ok) << "trial " << t << ": " << r.message.toStdString();
            check(t);
        }
        return cut;
    }
};
} // namespace

TEST_F(KilledUpdate, AnInstallCutAnywhereEndsWithTheNewVersionWholeAndTheOldOneKept)
{
    const int cut = killAtRandom([&] { versionOneWithTwoWaiting(); }, 20261210, [&](int t) {
        EXPECT_EQ(wholeVersion(program), 2) << "trial " << t;
        EXPECT_EQ(wholeVersion(program + ".prev"), 1) << "trial " << t << ": the version to go back to was lost";
        // Pending; counted once more when the kill came after the install's end.
        EXPECT_TRUE(content(work + "/update.pending") == "0" || content(work + "/update.pending") == "1") << "trial " << t;
        EXPECT_TRUE(QFileInfo::exists(archive() + ".installed")) << "trial " << t;
        EXPECT_FALSE(QFileInfo::exists(archive())) << "trial " << t;
        EXPECT_FALSE(updater::swapPending(program)) << "trial " << t;
    });
    EXPECT_GT(cut, 0) << "no kill landed inside the install";
    std::printf("install: %d kills of %d landed inside the work\n", cut, trials());
}

TEST_F(KilledUpdate, ARollbackCutAnywhereEndsWithThePreviousVersionWhole)
{
    const auto prepare = [&] {
        versionOneWithTwoWaiting();
        ASSERT_TRUE(updater::beforeStart(work, 2).ok);
        writeText(work + "/update.pending", "2");  // two starts that never confirmed
    };
    const int cut = killAtRandom(prepare, 20261211, [&](int t) {
        EXPECT_EQ(wholeVersion(program), 1) << "trial " << t;
        EXPECT_EQ(wholeVersion(program + ".failed"), 2) << "trial " << t;
        EXPECT_FALSE(QFileInfo::exists(work + "/update.pending")) << "trial " << t;
    });
    EXPECT_GT(cut, 0) << "no kill landed inside the rollback";
    std::printf("rollback: %d kills of %d landed inside the work\n", cut, trials());
}

TEST_F(KilledUpdate, AFactoryResetCutAnywhereEndsWithTheFactorySetUpAndTheOldOneKept)
{
    const auto prepare = [&] {
        versionOneWithTwoWaiting();  // the program, which a reset leaves alone
        for (const QString& d : {"paraGroup", "cammer11", "factory-reset.new"})
            QDir(work + '/' + d).removeRecursively();
        for (const QString& f : QDir(work).entryList({"newupdate*", "update.*", "factory-*", "PARAM.db*", "SN.db"}, QDir::Files))
            QFile::remove(work + '/' + f);
        writeText(work + "/PARAM.db", "the operator's parameters");
        writeText(work + "/PARAM.db-journal", "its journal");
        writeText(work + "/SN.db", "the operator's camera order");
        writeText(work + "/sysadd.txt", "3\n");
        QDir().mkpath(work + "/cammer11");
        writeText(work + "/cammer11/template0.png", "the operator's template");
        ASSERT_TRUE(writeArchive(archive(), {{"factory-reset/PARAM.db", "factory parameters", {}, {}, AE_IFREG},
                                             {"factory-reset/sysadd.txt", "0\n", {}, {}, AE_IFREG}}));
    };
    const int cut = killAtRandom(prepare, 20261212, [&](int t) {
        EXPECT_EQ(content(work + "/PARAM.db"), "factory parameters") << "trial " << t;
        EXPECT_FALSE(QFileInfo::exists(work + "/PARAM.db-journal")) << "trial " << t;
        EXPECT_EQ(content(work + "/SN.db"), "the operator's camera order") << "trial " << t << ": the wiring stays";
        EXPECT_EQ(content(work + "/sysadd.txt"), "0\n") << "trial " << t;
        EXPECT_FALSE(QFileInfo::exists(work + "/cammer11")) << "trial " << t;
        EXPECT_TRUE(QFileInfo::exists(work + "/factory-restored.txt")) << "trial " << t;
        const QStringList kept = QDir(work + "/paraGroup").entryList({"before-factory-*"}, QDir::Dirs);
        ASSERT_EQ(kept.size(), 1) << "trial " << t;
        const QString group = work + "/paraGroup/" + kept[0];
        EXPECT_EQ(content(group + "/PARAM.db"), "the operator's parameters") << "trial " << t;
        EXPECT_EQ(content(group + "/PARAM.db-journal"), "its journal") << "trial " << t;
        EXPECT_EQ(content(group + "/cammer11/template0.png"), "the operator's template") << "trial " << t;
        EXPECT_TRUE(QFileInfo::exists(archive() + ".installed")) << "trial " << t;
        EXPECT_FALSE(updater::factoryResetPending(work)) << "trial " << t;
        EXPECT_FALSE(QFileInfo::exists(work + "/update.pending")) << "trial " << t;
        EXPECT_EQ(content(program + "/bin/station"), "version 1") << "trial " << t << ": the program is not the package's";
    });
    EXPECT_GT(cut, 0) << "no kill landed inside the reset";
    std::printf("factory reset: %d kills of %d landed inside the work\n", cut, trials());
}
