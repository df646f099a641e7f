#pragma once
// A day change of a daily file (the record, the statistics) noted before it
// is made, so that a start after a kill finishes it: the live file is moved
// to its archive once, a fresh file is put in its place whole, and only then
// is the new day named. Without the note a cut left an empty file under the
// old day's name, archived again as a second copy of the day.
#include <QString>
#include <QStringList>
#include <optional>

namespace daychange {

struct Noted {
    QStringList fields;  // what the new day is (the caller's own)
    QString target;      // where the old day's file goes
};

// Notes a change, whole or not at all.
bool note(const QString& journal, const QStringList& fields, const QString& target);
// The noted change; none when there is no note (an unreadable one is removed).
std::optional<Noted> read(const QString& journal);
// Moves file to target unless that was done already; false when it cannot be moved.
bool archive(const QString& file, const QString& target);
// Copies from over to (a missing file) through a ".part": never half a file.
bool copyWhole(const QString& from, const QString& to);

} // namespace daychange
