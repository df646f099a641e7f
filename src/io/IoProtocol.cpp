#include "IoProtocol.h"

#include <cstring>

namespace io {

QByteArray commandFrame(int command, int value)
{
    unsigned char f[kCommandLen];
    encodeCommand(f, command, value);
    return QByteArray(reinterpret_cast<const char*>(f), kCommandLen);
}

QByteArray reportFrame(int type, const unsigned char data[4])
{
    unsigned char f[kReportLen] = {kFrameStart, static_cast<unsigned char>(type), data[0], data[1], data[2], data[3],
                                   0, kFrameEnd};
    f[6] = calcLRC(f, 6);
    return QByteArray(reinterpret_cast<const char*>(f), kReportLen);
}

QByteArray inputReport(int inputWord, int outputWord)
{
    const unsigned char d[4] = {static_cast<unsigned char>(inputWord & 0xFF),
                                static_cast<unsigned char>((inputWord >> 8) & 3),
                                static_cast<unsigned char>(outputWord & 0xFF),
                                static_cast<unsigned char>((outputWord >> 8) & 3)};
    return reportFrame(CmdReadInputs, d);
}

QByteArray analogReport(int type, int32_t reading)
{
    const uint32_t r = static_cast<uint32_t>(reading);
    const unsigned char d[4] = {static_cast<unsigned char>(r), static_cast<unsigned char>(r >> 8),
                                static_cast<unsigned char>(r >> 16), static_cast<unsigned char>(r >> 24)};
    return reportFrame(type, d);
}

} // namespace io
