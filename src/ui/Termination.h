#pragma once
// SIGTERM (and SIGINT) end a run cleanly: the handler only wakes the event
// loop, which closes the databases and leaves every loop.
#include <functional>

void installTerminationHandler(std::function<void()> onTerminate);
bool stationTerminating();
