#include "ParaGroups.h"

#include "Messages.h"
#include "OperationRecord.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtDebug>

#include <unistd.h>

namespace paragroups {

namespace {
const QString kDir = QStringLiteral("paraGroup");
const QString kStage = QStringLiteral(".restore-staging");
const QString kJournal = QStringLiteral("restore.pending");

QStringList setupEntries(int detections)
{
    QStringList names{QStringLiteral("PARAM.db")};
    for (int c = 1; c <= 8; ++c)
        for (int d = 1; d <= std::clamp(detections, 1, 8); ++d)
            names << QStringLiteral("cammer%1%2").arg(c).arg(d);
    return names;
}

bool copyTree(const QString& from, const QString& to)
{
    const QFileInfo fi(from);
    if (fi.isFile()) {
        QFile in(from);
        if (in.copy(to))
            return true;
        qWarning() << "parameter groups: cannot copy" << from << "to" << to << in.errorString();
        return false;
    }
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!copyTree(path, QDir(to).filePath(it.fileName())))
            return false;
    }
    return true;
}

bool removeAny(const QString& path)
{
    const QFileInfo fi(path);
    if (!fi.exists() && !fi.isSymLink())
        return true;
    return fi.isDir() && !fi.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
}

// What is copied must be on the disk before a rename makes it count.
void flush() { ::sync(); }
} // namespace

QStringList list()
{
    QStringList names = QDir(kDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    names.erase(std::remove_if(names.begin(), names.end(), [](const QString& n) { return n.startsWith('.'); }),
                names.end());
    return names;
}

QString refusal(const QString& name)
{
    if (name.trimmed().isEmpty())
        return LanStr(1506);
    if (name.size() > kMaxName)
        return LanStr(1544).arg(kMaxName);
    if (name.startsWith('.') || name.contains('/') || name.contains('\\') || name != name.trimmed())
        return LanStr(1647);
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control)
            return LanStr(1647);
    return {};
}

bool exists(const QString& name) { return refusal(name).isEmpty() && QDir(kDir).exists(name); }

Result backup(const QString& name, int detections)
{
    Result r;
    r.message = refusal(name);
    // The factory group holds more than a backup would (SN.db, the factory package).
    if (r.message.isEmpty() && name == QLatin1String(kFactory))
        r.message = LanStr(1887);
    if (!r.message.isEmpty())
        return r;
    finishPendingRestore();
    const QDir groups(kDir);
    if (!QDir().mkpath(kDir)) {
        r.message = LanStr(1651).arg(kDir);
        return r;
    }
    const QString stage = groups.filePath(".staging-" + name);
    removeAny(stage);
    if (!QDir().mkpath(stage)) {
        r.message = LanStr(1651).arg(stage);
        return r;
    }
    for (const QString& e : setupEntries(detections)) {
        if (!QFileInfo::exists(e))
            continue;  // a detection without templates yet
        if (!copyTree(e, QDir(stage).filePath(e))) {
            removeAny(stage);
            r.message = LanStr(1651).arg(e);
            return r;
        }
    }
    flush();
    // The old group of that name stays whole until the new one is in place.
    const QString target = groups.filePath(name), old = groups.filePath(".old-" + name);
    removeAny(old);
    if (QFileInfo::exists(target) && !QDir().rename(target, old)) {
        removeAny(stage);
        r.message = LanStr(1651).arg(target);
        return r;
    }
    if (!QDir().rename(stage, target)) {
        QDir().rename(old, target);
        r.message = LanStr(1651).arg(target);
        return r;
    }
    removeAny(old);
    flush();
    r.ok = true;
    r.group = name;
    return r;
}

Result restore(const QString& name, int detections)
{
    Result r;
    if (!exists(name)) {
        r.message = LanStr(1652).arg(name);
        return r;
    }
    finishPendingRestore();
    // The set-up in force is kept first: the operator can go back to it.
    const Result kept = backup(QStringLiteral("kept-%1").arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz")),
                               detections);
    if (!kept.ok) {
        r.message = kept.message;
        return r;
    }
    r.group = kept.group;
    QStringList automatic;
    for (const QString& g : list())
        if (g.startsWith(QLatin1String("kept-")))
            automatic << g;
    // Names carry their time: the oldest sort first.
    QStringList pruned;
    while (automatic.size() > kKeptGroups) {
        const QString oldest = automatic.takeFirst();
        if (remove(oldest))
            pruned << oldest;
    }
    if (!pruned.isEmpty())
        OperationRecord::instance().InsertRecord(LanStr(1888).arg(kKeptGroups).arg(pruned.join(", ")));
    removeAny(kStage);
    if (!QDir().mkpath(kStage)) {
        r.message = LanStr(1651).arg(kStage);
        return r;
    }
    // Everything the group holds (the factory group also has SN.db and its package).
    QStringList entries;
    const QDir group(QDir(kDir).filePath(name));
    for (const QString& e : group.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString from = group.filePath(e);
        if (!copyTree(from, QDir(kStage).filePath(e)) ) {
            removeAny(kStage);
            r.message = LanStr(1651).arg(from);
            return r;
        }
        entries << e;
    }
    // The group index goes in with the files: the kept group may sort before
    // the restored one, and a cut between them must not leave it naming
    // another group.
    {
        QSaveFile index(QDir(kStage).filePath(QStringLiteral("sysadd.txt")));
        if (!index.open(QIODevice::WriteOnly | QIODevice::Text) ||
            index.write(QByteArray::number(list().indexOf(name)) + '\n') < 0 || !index.commit()) {
            removeAny(kStage);
            r.message = LanStr(1651).arg(QStringLiteral("sysadd.txt"));
            return r;
        }
        entries.removeAll(QStringLiteral("sysadd.txt"));
        entries << QStringLiteral("sysadd.txt");
    }
    flush();
    // The journal names every entry of the group and every folder it replaces:
    // finishing again after a power cut does the same, never more.
    QSaveFile journal(kJournal);
    if (!journal.open(QIODevice::WriteOnly | QIODevice::Text)) {
        removeAny(kStage);
        r.message = LanStr(1651).arg(kJournal);
        return r;
    }
    journal.write(QByteArray::number(detections) + '\n' + entries.join('\n').toUtf8() + '\n');
    if (!journal.commit()) {
        removeAny(kStage);
        r.message = LanStr(1651).arg(kJournal);
        return r;
    }
    flush();
    finishPendingRestore();
    OperationRecord::instance().InsertRecord(LanStr(1648).arg(name));
    r.ok = true;
    return r;
}

bool remove(const QString& name)
{
    if (!exists(name) || name == QLatin1String(kFactory))
        return false;
    // Renamed away first: a power cut leaves no half-deleted group in the list.
    const QString gone = QDir(kDir).filePath(".deleting-" + name);
    removeAny(gone);
    return QDir().rename(QDir(kDir).filePath(name), gone) && removeAny(gone);
}

void finishPendingRestore()
{
    // Groups: a half-built one is discarded, a replaced one that lost its successor comes back.
    const QDir groups(kDir);
    for (const QString& n : groups.entryList({".*"}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (n.startsWith(".staging-") || n.startsWith(".deleting-")) {
            removeAny(groups.filePath(n));
        } else if (n.startsWith(".old-")) {
            const QString name = n.mid(5);
            if (groups.exists(name))
                removeAny(groups.filePath(n));
            else
                QDir().rename(groups.filePath(n), groups.filePath(name));
        }
    }
    // A restore: without its journal the staging is incomplete and dropped.
    QFile journal(kJournal);
    if (!journal.open(QIODevice::ReadOnly | QIODevice::Text)) {
        removeAny(kStage);
        return;
    }
    QStringList lines = QString::fromUtf8(journal.readAll()).split('\n', Qt::SkipEmptyParts);
    journal.close();
    if (lines.isEmpty()) {
        QFile::remove(kJournal);
        removeAny(kStage);
        return;
    }
    const int detections = lines.takeFirst().toInt();
    // Template folders the group does not have go; everything it has comes in.
    for (const QString& e : setupEntries(detections))
        if (!lines.contains(e) && e != QLatin1String("PARAM.db"))
            removeAny(e);
    for (const QString& e : std::as_const(lines)) {
        const QString staged = QDir(kStage).filePath(e);
        // Still staged: put in place; already moved by an interrupted run: nothing to do.
        if (!QFileInfo::exists(staged) || e.contains('/') || e.startsWith(".."))
            continue;
        removeAny(e);
        if (!QDir().rename(staged, e))
            qWarning() << "parameter group restore: cannot put" << e << "in place";
    }
    flush();
    removeAny(kStage);
    QFile::remove(kJournal);
    flush();
}

} // namespace paragroups
