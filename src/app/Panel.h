#pragma once
// Screen backlight and panel LEDs through the LED device, and the answers of
// unattended runs.
#include <atomic>
#include <optional>

// Set while the backlight is off: the next touch only wakes the screen.
extern std::atomic<bool> gisLCDOff;

void LCDOnOff(int on);
void LEDOnOff(int led, int on);

// STATION_ANSWER=yes|no answers every question at once and confirms every
// warning; unset, boxes wait for the operator.
std::optional<bool> autoAnswer();
