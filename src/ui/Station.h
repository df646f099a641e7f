#pragma once
// The whole station as the running program has it: its texts and pictures,
// the locks, the termination handler, the application's hooks and the main
// window with its keypads, boxes and pages, shown over the whole screen.
// main(), the screenshot tool and the tests all build it here.
#include <memory>

class DiVeZoruzo;

// What every station of this process needs before it is built: the locks,
// the texts and pictures, the working directory and the termination handler.
void prepareStation();

// Builds in the current directory (the station's working directory). Null
// when a termination came during the start-up.
std::unique_ptr<DiVeZoruzo> buildStation();
