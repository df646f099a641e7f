#include "Installer.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace updater {
namespace {
using ReadPtr = std::unique_ptr<archive, decltype(&archive_read_free)>;

ReadPtr openArchive(const QString& path, QString* error)
{
    ReadPtr a(archive_read_new(), &archive_read_free);
    archive_read_support_filter_all(a.get());
    archive_read_support_format_all(a.get());
    if (archive_read_open_filename(a.get(), QFile::encodeName(path).constData(), 64 * 1024) != ARCHIVE_OK) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, QString::fromUtf8(archive_error_string(a.get())));
        return ReadPtr(nullptr, &archive_read_free);
    }
    return a;
}

// A relative path that stays inside the tree after normalising.
bool staysInside(const QString& rel)
{
    if (rel.isEmpty() || rel.startsWith('/'))
        return false;
    int depth = 0;
    for (const QString& part : rel.split('/', Qt::SkipEmptyParts)) {
        if (part == "..") {
            if (--depth < 0)
                return false;
        } else if (part != ".") {
            ++depth;
        }
    }
    return true;
}

// Why an entry is refused; empty when it is fine.
QString refusal(archive_entry* e)
{
    const QString name = QString::fromUtf8(archive_entry_pathname_utf8(e) ? archive_entry_pathname_utf8(e)
                                                                          : archive_entry_pathname(e));
    if (name.startsWith('/'))
        return name + ": absolute path";
    if (name.split('/').contains(".."))
        return name + ": \"..\" in the path";
    if (!staysInside(name))
        return name + ": empty path";
    if (const char* hard = archive_entry_hardlink(e)) {
        const QString target = QString::fromUtf8(hard);
        if (target.startsWith('/') || target.split('/').contains(".."))
            return name + ": hard link out of the tree";
        return {};
    }
    const mode_t type = archive_entry_filetype(e);
    if (type == AE_IFLNK) {
        const QString target = QString::fromUtf8(archive_entry_symlink(e));
        const QString dir = QFileInfo(name).path();
        if (target.startsWith('/') || !staysInside((dir == "." ? QString() : dir + '/') + target))
            return name + ": link pointing out of the tree (" + target + ")";
        return {};
    }
    if (type != AE_IFREG && type != AE_IFDIR)
        return name + ": neither file, folder nor link";
    return {};
}

bool removeTree(const QString& path) { return !QFileInfo::exists(path) || QDir(path).removeRecursively(); }

// A file or folder on the disk, not only in the page cache.
bool syncPath(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Every file and folder of a tree; a link is kept by its folder's sync.
bool syncTree(const QString& root)
{
    bool ok = true;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (!it.fileInfo().isSymLink())
            ok = syncPath(it.filePath()) && ok;
    }
    return syncPath(root) && ok;
}

// Unpacks a checked archive into a fresh staging folder; on failure nothing is left.
bool unpack(const QString& path, const QString& staging, QString* why)
{
    if (!removeTree(staging) || !QDir().mkpath(staging)) {
        *why = "cannot make " + staging;
        return false;
    }
    QString error;
    ReadPtr a = openArchive(path, &error);
    std::unique_ptr<archive, decltype(&archive_write_free)> out(archive_write_disk_new(), &archive_write_free);
    // The library refuses ".." and writing through links again while it
    // writes; the paths it gets are absolute (the staging folder's).
    archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                  ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    const QByteArray base = QFile::encodeName(staging) + '/';
    archive_entry* e = nullptr;
    int rc = ARCHIVE_OK;
    while (a && (rc = archive_read_next_header(a.get(), &e)) == ARCHIVE_OK) {
        archive_entry_set_pathname(e, (base + archive_entry_pathname(e)).constData());
        if (const char* hard = archive_entry_hardlink(e))
            archive_entry_set_hardlink(e, (base + hard).constData());
        if (archive_write_header(out.get(), e) != ARCHIVE_OK) {
            error = QString::fromUtf8(archive_error_string(out.get()));
            break;
        }
        const void* buf;
        size_t size;
        la_int64_t offset;
        int d;
        while ((d = archive_read_data_block(a.get(), &buf, &size, &offset)) == ARCHIVE_OK)
            if (archive_write_data_block(out.get(), buf, size, offset) != ARCHIVE_OK) {
                d = ARCHIVE_FATAL;
                error = QString::fromUtf8(archive_error_string(out.get()));
                break;
            }
        if (d != ARCHIVE_EOF) {
            if (error.isEmpty())
                error = QString::fromUtf8(archive_error_string(a.get()));
            break;
        }
        if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) {
            error = QString::fromUtf8(archive_error_string(out.get()));
            break;
        }
    }
    if (!a || rc != ARCHIVE_EOF || archive_write_close(out.get()) != ARCHIVE_OK) {
        removeTree(staging);
        *why = error;
        return false;
    }
    return true;
}

QString parentOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// A rename that holds after a power cut: the folder that records it is synced.
bool durableRename(const QString& from, const QString& to)
{
    return QDir().rename(from, to) && syncPath(parentOf(to));
}

// A small file written whole and on the disk, with its folder.
bool writeDurably(const QString& file, const QByteArray& data)
{
    QSaveFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.commit() && syncPath(parentOf(file));
}

bool removeDurably(const QString& file) { return QFile::remove(file) && syncPath(parentOf(file)); }

QByteArray readSmall(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.read(4096).trimmed() : QByteArray();
}

QString swapMark(const QString& programDir) { return programDir + ".swap"; }
QString rollbackMark(const QString& programDir) { return programDir + ".rollback"; }

// The swap of a complete, synced staging tree: current to previous, staging
// to current. Repeatable from any point it was cut at, as the mark says it began.
bool finishSwap(const QString& programDir, QString* why)
{
    const QString staging = programDir + ".new", prev = programDir + ".prev";
    if (!QFileInfo::exists(staging))
        return true;  // already in place
    if (QFileInfo::exists(programDir)) {
        if (!removeTree(prev) || !durableRename(programDir, prev)) {
            *why = "the running version could not be kept as " + prev;
            return false;
        }
    }
    if (!durableRename(staging, programDir)) {
        *why = staging + " could not be moved in place";
        return false;
    }
    return true;
}

// A rollback from any point it was cut at. "previous": the previous tree comes
// back; "aside": there is none, the new tree is moved aside and the packaged
// program runs.
bool finishRollback(const QString& programDir, const QByteArray& kind, QString* why)
{
    const QString prev = programDir + ".prev", failed = programDir + ".failed";
    if (kind == "aside") {
        if (QFileInfo::exists(programDir) && (!removeTree(failed) || !durableRename(programDir, failed))) {
            *why = "the new version could not be moved aside";
            return false;
        }
        return true;
    }
    if (!QFileInfo::exists(prev))
        return true;  // already back
    if (QFileInfo::exists(programDir) && (!removeTree(failed) || !durableRename(programDir, failed))) {
        *why = "the new version could not be moved aside";
        return false;
    }
    if (!durableRename(prev, programDir)) {
        *why = "the previous version could not be moved back";
        return false;
    }
    return true;
}

const QString kFactoryTop = QStringLiteral("factory-reset");
QString resetMark(const QString& workdir) { return workdir + "/factory-reset.swap"; }
QString resetStaging(const QString& workdir) { return workdir + "/factory-reset.new"; }

// Puts the unpacked factory files in place of the operator's set-up, which
// goes whole into the parameter group kept (its PARAM.db and template
// folders). Repeatable from any point it was cut at: what was moved is no
// longer where it came from.
bool finishReset(const QString& workdir, const QString& kept, QString* why)
{
    const QString group = workdir + "/paraGroup/" + kept;
    const QString from = resetStaging(workdir) + '/' + kFactoryTop;
    if (!QDir().mkpath(group)) {
        *why = "cannot make " + group;
        return false;
    }
    // Templates and ignore points: no regions after a reset.
    const QDir work(workdir);
    for (const QString& d : work.entryList({"cammer*"}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (QFileInfo::exists(group + '/' + d) ? !removeTree(work.filePath(d))
                                               : !durableRename(work.filePath(d), group + '/' + d)) {
            *why = "cannot move " + d + " into " + group;
            return false;
        }
    }
    for (const QString& f : QDir(from).entryList(QDir::Files)) {
        const QString target = work.filePath(f);
        if (QFileInfo::exists(target)) {
            const bool keep = f == "PARAM.db" && !QFileInfo::exists(group + '/' + f);
            // A journal goes with its database: it may hold what finishes it.
            if (keep)
                for (const char* side : {"-journal", "-wal"})
                    if (QFileInfo::exists(target + side))
                        durableRename(target + side, group + '/' + f + side);
            if (keep ? !durableRename(target, group + '/' + f) : !QFile::remove(target)) {
                *why = "cannot replace " + target;
                return false;
            }
        }
        // A journal left beside the new file would be played into it.
        for (const char* side : {"-journal", "-wal", "-shm"})
            QFile::remove(target + side);
        if (!durableRename(from + '/' + f, target)) {
            *why = "cannot move the factory " + f + " in place";
            return false;
        }
    }
    // The station comes up stopped until the operator has seen the factory set-up.
    if (!writeDurably(work.filePath("factory-restored.txt"), QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1())) {
        *why = "cannot mark the factory restore";
        return false;
    }
    removeTree(resetStaging(workdir));
    return true;
}
} // namespace

bool isFactoryPackage(const QString& path)
{
    QString error;
    ReadPtr a = openArchive(path, &error);
    if (!a)
        return false;
    archive_entry* e = nullptr;
    int entries = 0;
    while (archive_read_next_header(a.get(), &e) == ARCHIVE_OK) {
        const QString name = QString::fromUtf8(archive_entry_pathname(e));
        if (name != kFactoryTop && name != kFactoryTop + '/' && !name.startsWith(kFactoryTop + '/'))
            return false;
        ++entries;
        archive_read_data_skip(a.get());
    }
    return entries > 0;
}

Result factoryReset(const QString& path, const QString& workdir)
{
    Result r = check(path);
    if (!r.ok)
        return r;
    r.ok = false;
    QString why;
    if (!unpack(path, resetStaging(workdir), &why) || !syncTree(resetStaging(workdir))) {
        removeTree(resetStaging(workdir));
        r.message = "factory settings not restored, unpacking failed: " + why;
        return r;
    }
    if (!QFileInfo(resetStaging(workdir) + "/" + kFactoryTop + "/PARAM.db").isFile()) {
        removeTree(resetStaging(workdir));
        r.message = "factory settings not restored: the package holds no PARAM.db";
        return r;
    }
    // Not "kept-…": the restores' pruning of their own kept groups must not take it.
    const QString kept = QStringLiteral("before-factory-%1").arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
    if (!writeDurably(resetMark(workdir), kept.toUtf8())) {
        removeTree(resetStaging(workdir));
        r.message = "factory settings not restored: " + resetMark(workdir) + " could not be written";
        return r;
    }
    return finishFactoryReset(workdir);
}

Result finishFactoryReset(const QString& workdir)
{
    Result r;
    const QString kept = QString::fromUtf8(readSmall(resetMark(workdir)));
    QString why;
    if (kept.isEmpty() || !finishReset(workdir, kept, &why)) {
        r.message = "factory settings not finished, tried again at the next start: " + why;
        return r;
    }
    removeDurably(resetMark(workdir));
    r.ok = true;
    r.message = QStringLiteral("factory settings restored; the set-up before them is kept as parameter group %1").arg(kept);
    return r;
}

bool factoryResetPending(const QString& workdir) { return QFileInfo::exists(resetMark(workdir)); }

QStringList archiveNames() { return {"newupdate.tar.gz", "newupdate.tar.xz", "newupdate.rar"}; }

Result check(const QString& path)
{
    Result r;
    ReadPtr a = openArchive(path, &r.message);
    if (!a)
        return r;
    archive_entry* e = nullptr;
    int entries = 0, rc;
    while ((rc = archive_read_next_header(a.get(), &e)) == ARCHIVE_OK) {
        ++entries;
        const QString why = refusal(e);
        if (!why.isEmpty())
            r.refused << why;
        archive_read_data_skip(a.get());
    }
    if (rc != ARCHIVE_EOF) {
        r.message = QStringLiteral("%1 is damaged: %2").arg(path, QString::fromUtf8(archive_error_string(a.get())));
        return r;
    }
    if (!r.refused.isEmpty()) {
        r.message = QStringLiteral("update refused, unsafe entries: %1").arg(r.refused.join("; "));
        return r;
    }
    if (entries == 0) {
        r.message = QStringLiteral("%1 holds nothing").arg(path);
        return r;
    }
    r.ok = true;
    r.message = QStringLiteral("%1 entries checked").arg(entries);
    return r;
}

Result install(const QString& path, const QString& programDir)
{
    Result r = check(path);
    if (!r.ok)
        return r;
    r.ok = false;
    const QString staging = programDir + ".new";
    QString error;
    if (!unpack(path, staging, &error)) {
        r.message = QStringLiteral("update not installed, unpacking failed: %1").arg(error);
        return r;
    }
    // On the disk before the swap: a power cut after it must not find empty files.
    if (!syncTree(staging)) {
        removeTree(staging);
        r.message = "update not installed: the unpacked files could not be written to the disk";
        return r;
    }
    // From the mark on, the swap is finished at the next start whatever cuts it.
    if (!writeDurably(swapMark(programDir), QFileInfo(path).absoluteFilePath().toUtf8())) {
        removeTree(staging);
        r.message = "update not installed: " + swapMark(programDir) + " could not be written";
        return r;
    }
    QString why;
    if (!finishSwap(programDir, &why)) {
        // Back to the running version where it can still be had.
        const QString prev = programDir + ".prev";
        if (!QFileInfo::exists(programDir) && QFileInfo::exists(prev))
            durableRename(prev, programDir);
        removeTree(staging);
        removeDurably(swapMark(programDir));
        r.message = "update not installed: " + why;
        return r;
    }
    r.ok = true;
    r.message = QStringLiteral("update installed from %1").arg(QFileInfo(path).fileName());
    return r;
}

bool swapPending(const QString& programDir) { return QFileInfo::exists(swapMark(programDir)); }

bool endSwap(const QString& programDir) { return removeDurably(swapMark(programDir)) || !swapPending(programDir); }

bool endRollback(const QString& programDir)
{
    return removeDurably(rollbackMark(programDir)) || !QFileInfo::exists(rollbackMark(programDir));
}

Result rollback(const QString& programDir)
{
    Result r;
    const QString prev = programDir + ".prev";
    QByteArray kind = readSmall(rollbackMark(programDir));
    if (kind.isEmpty()) {
        if (!QFileInfo::exists(programDir) && !QFileInfo::exists(prev)) {
            r.ok = true;
            r.message = "no update installed: the packaged program runs";
            return r;
        }
        kind = QFileInfo::exists(prev) ? "previous" : "aside";
        if (!writeDurably(rollbackMark(programDir), kind)) {
            r.message = "rollback failed: " + rollbackMark(programDir) + " could not be written";
            return r;
        }
    }
    QString why;
    if (!finishRollback(programDir, kind, &why)) {
        r.message = "rollback failed: " + why;
        return r;
    }
    r.ok = true;
    r.message = kind == "aside"
                    ? QStringLiteral("update rolled back: there was no previous update, the packaged program runs "
                                     "(the new one kept as program.failed)")
                    : QStringLiteral("update rolled back to the previous version (the new one kept as program.failed)");
    return r;
}

namespace {
void report(const QString& workdir, const Result& r)
{
    const QString line = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss ") + r.message;
    QFile log(workdir + "/update.log");
    if (log.open(QIODevice::Append | QIODevice::Text))
        QTextStream(&log) << line << '\n';
    QSaveFile result(workdir + "/update.result");
    if (result.open(QIODevice::WriteOnly)) {
        result.write(r.message.toUtf8());
        result.commit();
    }
}

int readAttempts(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : 0;
}

bool writeAttempts(const QString& file, int n) { return writeDurably(file, QByteArray::number(n)); }
} // namespace

Result beforeStart(const QString& workdir, int attempts, bool* nothing)
{
    if (nothing)
        *nothing = false;
    const QString program = workdir + "/program", pending = workdir + "/update.pending";
    // The steps after the unpacking, from wherever the last start was cut.
    // Tried once, whatever came of it: a bad archive must not be retried at every start.
    const auto setAside = [](const Result& r, const QString& archivePath) {
        const QString kept = archivePath + (r.ok ? ".installed" : ".refused");
        if (QFileInfo(archivePath).isFile()) {
            QFile::remove(kept);
            durableRename(archivePath, kept);
        }
    };
    const auto settleReset = [&](const Result& r, const QString& archivePath) {
        // A reset cut short keeps its archive too: the mark finishes it.
        if (!factoryResetPending(workdir))
            setAside(r, archivePath);
        report(workdir, r);
        return r;
    };
    const auto settle = [&](Result r, const QString& archivePath) {
        if (r.ok && !writeDurably(pending, "0"))
            r.message += " (the pending mark could not be written: no automatic rollback)";
        setAside(r, archivePath);
        endSwap(program);
        report(workdir, r);
        return r;
    };
    if (factoryResetPending(workdir)) {
        Result r = finishFactoryReset(workdir);
        if (!r.ok) {
            report(workdir, r);
            return r;
        }
        for (const QString& name : archiveNames())
            if (QFileInfo(workdir + '/' + name).isFile())
                return settleReset(r, workdir + '/' + name);
        report(workdir, r);
        return r;
    }
    if (QFileInfo::exists(rollbackMark(program))) {
        Result r = rollback(program);
        r.message = "a rollback cut short was finished: " + r.message;
        // The pending mark before the rollback's: cut between them, the
        // rollback is finished again, not started anew on the old version.
        if (r.ok && (removeDurably(pending) || !QFileInfo::exists(pending)))
            endRollback(program);
        report(workdir, r);
        return r;
    }
    if (swapPending(program)) {
        const QString archivePath = QString::fromUtf8(readSmall(swapMark(program)));
        Result r;
        QString why;
        if (!finishSwap(program, &why)) {
            // Kept as it is, to be finished at the next start.
            r.message = "update not finished, tried again at the next start: " + why;
            report(workdir, r);
            return r;
        }
        r.ok = true;
        r.message = QStringLiteral("update installed from %1 (finished after a cut)").arg(QFileInfo(archivePath).fileName());
        return settle(r, archivePath);
    }
    for (const QString& name : archiveNames()) {
        const QString path = workdir + '/' + name;
        if (!QFileInfo(path).isFile())
            continue;
        // The factory package resets the set-up, not the program: nothing to roll back.
        if (isFactoryPackage(path))
            return settleReset(factoryReset(path, workdir), path);
        return settle(install(path, program), path);
    }
    if (QFileInfo::exists(pending)) {
        const int started = readAttempts(pending);
        if (started >= attempts) {
            Result r = rollback(program);
            r.message = QStringLiteral("the update did not reach detecting in %1 starts; ").arg(started) + r.message;
            // A rollback that failed is tried again at the next start.
            if (r.ok && (removeDurably(pending) || !QFileInfo::exists(pending)))
                endRollback(program);
            report(workdir, r);
            return r;
        }
        writeAttempts(pending, started + 1);
    }
    if (nothing)
        *nothing = true;
    Result r;
    r.ok = true;
    return r;
}

} // namespace updater
