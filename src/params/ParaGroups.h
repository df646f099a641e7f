#pragma once
// Parameter groups: the whole inspection set-up (PARAM.db and the template
// folders cammer<c><d>) kept under ./paraGroup/<name>, restored on request.
// Both directions are atomic: a group is built in a hidden staging folder
// and renamed into place; a restore is staged in the working directory with
// a journal, and finished by finishPendingRestore() at the next start if the
// power went in the middle. Before a restore the current set-up is kept as
// a group of its own, so the operator can go back.
#include <QString>
#include <QStringList>

namespace paragroups {

constexpr int kMaxName = 32;
// The factory group: restored, never overwritten nor deleted.
inline const char* const kFactory = "default";
// The automatic "kept-<time>" groups a restore leaves: the newest are kept.
constexpr int kKeptGroups = 5;

// The groups in name order (hidden staging folders left out).
QStringList list();
// Why name cannot be a group name (empty: it can): a name, never a path.
QString refusal(const QString& name);
bool exists(const QString& name);

struct Result {
    bool ok = false;
    QString message;  // what to show when it failed
    QString group;    // the group written (backup) or kept (restore)
};

// Backs up PARAM.db and every cammer<c><d> folder (cameras 1..8, detections
// 1..detections) into group name, replacing a group of that name whole
// (never the factory group).
Result backup(const QString& name, int detections);
// Replaces the working files with the group's; the current ones are kept
// first as group "kept-<time>", and kept groups beyond the newest
// kKeptGroups are removed (recorded). The station restarts afterwards.
Result restore(const QString& name, int detections);
// Deletes a group; the factory group is refused.
bool remove(const QString& name);
// Completes or undoes what a power cut interrupted: a half-built group is
// discarded, a replaced group put back, a staged restore finished.
void finishPendingRestore();

} // namespace paragroups
