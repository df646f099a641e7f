// libFuzzer target for the IO board report parser: any byte stream, fed in
// arbitrary pieces, must neither crash nor lose count of a byte.
#include "IoProtocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    io::ReportParser parser;
    quint64 kept = 0;
    quint64 frames = 0;
    size_t pos = 0;
    // The first byte of each piece chooses the length of the next piece.
    while (pos < size) {
        const size_t piece = 1 + data[pos] % 64;
        ++pos;
        const size_t n = piece < size - pos ? piece : size - pos;
        kept += quint64(parser.append(reinterpret_cast<const char*>(data + pos), int(n)));
        pos += n;
        frames += quint64(parser.parse([](const io::Report& r) {
            if (r.type < 0 || r.type > 255 || r.inputWord() > 0x3FF || r.outputWord() > 0x3FF)
                __builtin_trap();
        }));
        if (parser.buffered() >= io::kReportLen || parser.buffered() > io::kRxBufferLen)
            __builtin_trap();
    }
    // Every byte taken in is a frame byte, a resync byte, or still buffered.
    if (frames * io::kReportLen + parser.resyncBytes() + quint64(parser.buffered()) != kept)
        __builtin_trap();
    return 0;
}
