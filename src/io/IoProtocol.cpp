#include "IoProtocol.h"

#include <cstring>

unsigned char calcLRC(const unsigned char* data, unsigned short length)
{
    unsigned sum = 0;
    for (unsigned short i = 0; i < length; ++i)
        sum += data[i];
    return static_cast<unsigned char>(sum & 0xFF);
}

namespace io {

QByteArray commandFrame(int command, int value)
{
    unsigned char f[kCommandLen] = {kFrameStart, static_cast<unsigned char>(command),
                                    static_cast<unsigned char>(value & 0xFF),
                                    static_cast<unsigned char>((value >> 8) & 0xFF), 0, kFrameEnd};
    f[4] = calcLRC(f, 4);
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

int ReportParser::append(const char* data, int len)
{
    if (len <= 0)
        return 0;
    const int room = kRxBufferLen - m_len;
    const int take = len < room ? len : room;
    std::memcpy(m_buf + m_len, data, take);
    m_len += take;
    m_dropped += quint64(len - take);
    return take;
}

int ReportParser::parse(const std::function<void(const Report&)>& onReport)
{
    int pos = 0;
    int frames = 0;
    while (m_len - pos >= kReportLen) {
        const unsigned char* f = m_buf + pos;
        if (f[0] == kFrameStart && f[6] == calcLRC(f, 6) && f[7] == kFrameEnd) {
            Report r;
            r.type = f[1];
            std::memcpy(r.data, f + 2, 4);
            ++frames;
            if (onReport)
                onReport(r);
            pos += kReportLen;
        } else {
            ++pos;
            ++m_resync;
        }
    }
    if (pos > 0) {
        std::memmove(m_buf, m_buf + pos, m_len - pos);
        m_len -= pos;
    }
    return frames;
}

} // namespace io
