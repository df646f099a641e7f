// libFuzzer target for what the network client sends the station: any bytes
// are split into texts and replies, and replies read as JSON, without a
// crash and without more results than the text has separators.
#include "NetFrame.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    const QList<netlink::Received> got = netlink::parseReceived(text);
    if (got.size() > text.count("\r\n\r\n"))
        __builtin_trap();
    for (const netlink::Received& r : got) {
        if (r.kind == netlink::Received::Reply) {
            if (r.session < 0 || r.body.contains("\r\n\r\n"))
                __builtin_trap();
            bool ok = false;
            const QStringList names = netlink::productNames(r.body, &ok);
            if (!ok && !names.isEmpty())
                __builtin_trap();
            netlink::remindList(r.body, &ok);
        } else if (!r.body.isEmpty()) {
            __builtin_trap();
        }
    }
    // The JSON readers on the raw bytes as well.
    netlink::productNames(text);
    netlink::remindList(text);
    return 0;
}
