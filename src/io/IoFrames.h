#pragma once
// The IO board's serial frames without Qt: 6-byte command frames from the
// station, 8-byte report frames from the board, both framed by 0x5F ... 0xF5
// with an additive check byte. The guard process uses these alone.
#include <cstdint>
#include <functional>

// Sum of length bytes modulo 256 (0 for length 0).
unsigned char calcLRC(const unsigned char* data, unsigned short length);

namespace io {

constexpr unsigned char kFrameStart = 0x5F;
constexpr unsigned char kFrameEnd = 0xF5;
constexpr int kCommandLen = 6;
constexpr int kReportLen = 8;
constexpr int kRxBufferLen = 1024;

enum Command { CmdSetOutputs = 1, CmdReadInputs = 2, CmdReadAnalogA = 3, CmdReadAnalogB = 4 };

// Writes the command frame into f.
void encodeCommand(unsigned char f[kCommandLen], int command, int value);

struct Report {
    int type = 0;
    unsigned char data[4] = {};
    int inputWord() const { return (data[1] & 3) * 256 + data[0]; }
    int outputWord() const { return (data[3] & 3) * 256 + data[2]; }
    int32_t reading() const
    {
        return int32_t(uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24);
    }
};

// Receive buffer of the link: bytes are appended (beyond 1024 dropped) and
// whole frames taken from the front; a byte that cannot start a valid frame
// is dropped alone, so a corrupt byte costs one byte of resynchronisation.
class ReportParser {
public:
    // Returns how many bytes were kept.
    int append(const char* data, int len);
    // Calls onReport for every valid frame in order; keeps the tail.
    int parse(const std::function<void(const Report&)>& onReport);

    int buffered() const { return m_len; }
    std::uint64_t resyncBytes() const { return m_resync; }
    std::uint64_t droppedBytes() const { return m_dropped; }

private:
    unsigned char m_buf[kRxBufferLen] = {};
    int m_len = 0;
    std::uint64_t m_resync = 0;
    std::uint64_t m_dropped = 0;
};

} // namespace io
