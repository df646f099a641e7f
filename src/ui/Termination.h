#pragma once
// SIGTERM (and SIGINT) end a run so that the supervisor starts the station
// again: the handler only wakes the event loop, which prohibits clamping at
// the board, saves what is kept and leaves every loop with kExitRestart.
// Only the operator's exit ends the station for good (kExitForGood, the
// one status the unit does not restart).
#include <functional>

namespace exitstatus {
constexpr int kForGood = 10;   // the operator's exit (RestartPreventExitStatus)
constexpr int kRestart = 75;   // told to stop by a signal: start again
} // namespace exitstatus

void installTerminationHandler(std::function<void()> onTerminate);
bool stationTerminating();
