#pragma once
// Installs a program update archive ("newupdate.tar.gz", ".tar.xz" or ".rar"
// in the working directory) before the station starts, with one-step
// rollback. Every entry is checked before anything is written: absolute
// paths, "..", links that point outside the program tree, and anything but
// files, folders and links refuse the whole archive.
//
// The program tree lives in <workdir>/program, the previous one in
// <workdir>/program.prev. An installed update stays "pending" until the
// station reaches detecting and confirms it; a pending update that has been
// started `attempts` times without confirmation is rolled back.
#include <QString>
#include <QStringList>

namespace updater {

struct Result {
    bool ok = false;
    QString message;     // one line for the record
    QStringList refused; // entries that refused the archive
};

// Pass 1: every entry safe? Nothing is written.
Result check(const QString& archive);
// Check, unpack into a staging folder and sync it to the disk, then swap it
// in (the old tree kept as the previous one). The swap is marked
// ("<dir>.swap") until endSwap(): a start that finds the mark finishes what
// a power cut or kill interrupted instead of installing again.
Result install(const QString& archive, const QString& programDir);
bool swapPending(const QString& programDir);
bool endSwap(const QString& programDir);
// The previous tree back in place, or, when there is none, the new one moved
// aside so that the packaged program runs; the failed one is kept as
// "<dir>.failed". Marked ("<dir>.rollback") until endRollback(), and
// finished by the next start when cut.
Result rollback(const QString& programDir);
bool endRollback(const QString& programDir);

// The factory package ("factory-reset/" and the working directory's set-up
// files below it): its files replace the operator's set-up in workdir, which
// is kept whole as a parameter group "before-factory-<time>" (its PARAM.db
// and template folders); records, counters, accounts, the camera order and
// the other groups stay.
// The station then comes up stopped until the operator starts it. Marked
// ("factory-reset.swap") until done, and finished by the next start when cut.
bool isFactoryPackage(const QString& archive);
Result factoryReset(const QString& archive, const QString& workdir);
Result finishFactoryReset(const QString& workdir);
bool factoryResetPending(const QString& workdir);

// What the service runs before each start, in the working directory:
// installs a waiting archive (moved aside afterwards, whatever the result),
// or counts a start of a pending update and rolls it back after `attempts`
// starts. The outcome is appended to "update.log" and left in
// "update.result" for the station's operation record. nothing: no work.
Result beforeStart(const QString& workdir, int attempts, bool* nothing = nullptr);

// The names an update archive may have, in the order they are looked for.
QStringList archiveNames();

} // namespace updater
