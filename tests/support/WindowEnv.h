#pragma once
// What a main window made by a test starts from: no board on the port,
// every box answered "yes" at once, no reboot pending, logged out.
#include "Globals.h"
#include "TestDir.h"

inline void prepareUnattendedWindow(const TestDir& dir)
{
    gRebootPending = false;
    gDatabaseFault = false;
    gPasswordLevel = 0;
    qputenv("STATION_ANSWER", "yes");
    qputenv("STATION_IO_PORT", dir.file("no-board").toUtf8());
}
