#include "IoFrames.h"

#include <cstring>

unsigned char calcLRC(const unsigned char* data, unsigned short length)
{
    unsigned sum = 0;
    for (unsigned short i = 0; i < length; ++i)
        sum += data[i];
    return static_cast<unsigned char>(sum & 0xFF);
}

namespace io {

void encodeCommand(unsigned char f[kCommandLen], int command, int value)
{
    f[0] = kFrameStart;
    f[1] = static_cast<unsigned char>(command);
    f[2] = static_cast<unsigned char>(value & 0xFF);
    f[3] = static_cast<unsigned char>((value >> 8) & 0xFF);
    f[4] = calcLRC(f, 4);
    f[5] = kFrameEnd;
}

int ReportParser::append(const char* data, int len)
{
    if (len <= 0)
        return 0;
    const int room = kRxBufferLen - m_len;
    const int take = len < room ? len : room;
    std::memcpy(m_buf + m_len, data, take);
    m_len += take;
    m_dropped += std::uint64_t(len - take);
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
