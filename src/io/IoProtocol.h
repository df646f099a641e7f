#pragma once
// The IO board's serial protocol as Qt byte arrays (the frames: IoFrames.h).
#include "IoFrames.h"

#include <QByteArray>

namespace io {

QByteArray commandFrame(int command, int value);
QByteArray reportFrame(int type, const unsigned char data[4]);
QByteArray inputReport(int inputWord, int outputWord);
QByteArray analogReport(int type, int32_t reading);

} // namespace io
