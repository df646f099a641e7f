#pragma once
// Files and folders of the working directory that start-up reads or creates.
#include <QString>
#include <QtGlobal>

namespace startup {

// "realytime.txt": the latest system time known to be right, in ms since the
// epoch; 0 when the file is missing or holds no number.
qint64 readRealyTime();
bool writeRealyTime(qint64 msSinceEpoch);

// The clock is not trusted when nothing was stored or it runs behind the stored time.
inline bool systemTimeSuspect(qint64 nowMs, qint64 storedMs) { return storedMs == 0 || nowMs < storedMs; }

// The NG/OK, template and raw-image folders of every camera and detection,
// and the record and statistics archives. Returns false if one could not be made.
bool ensureFolders(int cameras);

// Runs a waiting "update.sh" once through the host. A script that ran is
// removed; one that failed is kept as "update.sh.failed-<time>" for
// inspection, so it neither runs again at every start nor vanishes.
struct UpdateOutcome {
    bool ran = false;
    bool ok = true;
    QString keptAs;  // where a failed script was kept
};
UpdateOutcome runUpdateOnce();

// What the update installer did before this start ("update.result"), taken
// once: empty when nothing happened.
QString takeUpdateResult();
// The station reached detecting: a pending update is confirmed (no rollback
// at the next start). True when one was pending.
bool confirmUpdate();

} // namespace startup

// Waits one second; called before every reboot an operation requests.
void StopWTD();
// Waits one second and ends the process with status.
[[noreturn]] void Exit(int status);
