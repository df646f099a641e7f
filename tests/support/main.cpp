// Test main: a widget application on the offscreen platform, then GoogleTest.
#include "Globals.h"
#include "Messages.h"

#include "MApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("STATION_PLATFORM");  // tests never act on the host
    // A test program is not beside the station: its ports get the station's guard all the same.
    if (qEnvironmentVariableIsEmpty("STATION_GUARD"))
        qputenv("STATION_GUARD", STATION_GUARD_PROGRAM);
    MApplication app(argc, argv);
    LoadLanStr();
    createGlobalLocks();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
