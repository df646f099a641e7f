// gige-sim: a GigE Vision camera's control side on one network interface, for
// tests and demos. It needs no address on the interface: like a camera's own
// network stack it reads and writes Ethernet frames itself (a packet socket,
// so root or CAP_NET_RAW), answers GVCP discovery, obeys the vendor's custom
// force-IP command, and answers ARP for its address.
//
//   gige-sim --iface IF --mac 02:00:00:00:00:01 --ip 169.254.3.7 --mask 255.255.0.0
//            [--info TEXT]          manufacturer-specific information (default "F622 simulated camera")
//            [--no-ack]             never answer force-IP (and keep the address)
//            [--occupy A.B.C.D-E]   also answer ARP for A.B.C.D .. A.B.C.E (addresses "in use")
//
// Prints "ready" once listening, "discovery" per request answered,
// "force-ip A.B.C.D A.B.C.D" when it takes a new address and mask, "arp A.B.C.D"
// per ARP reply. Ends on SIGTERM, SIGINT or "quit" on standard input.
//
// Written apart from the station's own GVCP code: a mistake there is not
// mirrored here.
#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

struct Camera {
    uint8_t mac[6] = {2, 0, 0, 0, 0, 1};
    uint32_t ip = 0, mask = 0;  // network order
    std::string info = "F622 simulated camera";
    bool noAck = false;
    uint32_t occupyFrom = 0, occupyTo = 0;  // host order, inclusive
};

uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
void wr16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v & 0xFF);
}

bool parseMac(const char* s, uint8_t out[6])
{
    unsigned v[6];
    if (std::sscanf(s, "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = uint8_t(v[i]);
    return true;
}

std::string dotted(uint32_t netOrder)
{
    char b[32];
    in_addr a{netOrder};
    std::snprintf(b, sizeof b, "%s", inet_ntoa(a));
    return b;
}

uint16_t ipChecksum(const uint8_t* p, size_t n)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += rd16(p + i);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

class Wire {
public:
    int fd = -1;
    int ifindex = 0;
    bool open(const char* iface)
    {
        fd = ::socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        if (fd < 0) {
            std::perror("gige-sim: packet socket (needs root or CAP_NET_RAW)");
            return false;
        }
        ifindex = int(if_nametoindex(iface));
        if (!ifindex) {
            std::fprintf(stderr, "gige-sim: no interface %s\n", iface);
            return false;
        }
        sockaddr_ll a{};
        a.sll_family = AF_PACKET;
        a.sll_protocol = htons(ETH_P_ALL);
        a.sll_ifindex = ifindex;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::perror("gige-sim: bind");
            return false;
        }
        return true;
    }
    void send(const uint8_t* frame, size_t n)
    {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = ifindex;
        to.sll_halen = 6;
        std::memcpy(to.sll_addr, frame, 6);
        if (::sendto(fd, frame, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
            std::perror("gige-sim: send");
    }
};

// An Ethernet + IPv4 + UDP frame around payload.
void sendUdp(Wire& w, const Camera& c, const uint8_t dstMac[6], uint32_t dstIp, uint16_t dstPort,
             const uint8_t* payload, size_t len)
{
    uint8_t f[1514] = {};
    std::memcpy(f, dstMac, 6);
    std::memcpy(f + 6, c.mac, 6);
    wr16(f + 12, ETH_P_IP);
    uint8_t* ip = f + 14;
    ip[0] = 0x45;
    wr16(ip + 2, uint16_t(20 + 8 + len));
    ip[8] = 64;
    ip[9] = IPPROTO_UDP;
    std::memcpy(ip + 12, &c.ip, 4);
    std::memcpy(ip + 16, &dstIp, 4);
    wr16(ip + 10, ipChecksum(ip, 20));
    uint8_t* udp = ip + 20;
    wr16(udp, 3956);
    wr16(udp + 2, dstPort);
    wr16(udp + 4, uint16_t(8 + len));
    // UDP checksum 0: none, as IPv4 allows.
    std::memcpy(udp + 8, payload, len);
    w.send(f, 14 + 20 + 8 + len);
}

void answerGvcp(Wire& w, Camera& c, const uint8_t* srcMac, uint32_t srcIp, uint16_t srcPort, const uint8_t* g,
                size_t n)
{
    if (n < 8 || g[0] != 0x42)
        return;
    const uint16_t cmd = rd16(g + 2), req = rd16(g + 6);
    // A requester on our own address cannot take a unicast answer either.
    const bool sameSubnet = (srcIp & c.mask) == (c.ip & c.mask) && srcIp != c.ip;
    static const uint8_t broadcastMac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    // Outside our subnet the requester cannot be reached directly: broadcast.
    const uint8_t* mac = sameSubnet ? srcMac : broadcastMac;
    const uint32_t to = sameSubnet ? srcIp : htonl(INADDR_BROADCAST);
    if (cmd == 0x0002) {
        uint8_t ack[256] = {};
        wr16(ack + 2, 0x0003);
        wr16(ack + 4, 248);
        wr16(ack + 6, req);
        uint8_t* p = ack + 8;
        wr16(p + 0, 1);  // GVCP version 1.2
        wr16(p + 2, 2);
        std::memcpy(p + 10, c.mac, 6);        // MAC high (2) and low (4)
        p[19] = 0x06;                         // DHCP and LLA supported
        p[23] = 0x04;                         // LLA current
        std::memcpy(p + 36, &c.ip, 4);        // current IP
        std::memcpy(p + 52, &c.mask, 4);      // subnet mask
        std::snprintf(reinterpret_cast<char*>(p + 72), 32, "gige-sim");
        std::snprintf(reinterpret_cast<char*>(p + 104), 32, "simulated");
        std::snprintf(reinterpret_cast<char*>(p + 168), 48, "%s", c.info.c_str());
        std::snprintf(reinterpret_cast<char*>(p + 216), 16, "SIM%02X%02X%02X", c.mac[3], c.mac[4], c.mac[5]);
        sendUdp(w, c, mac, to, srcPort, ack, sizeof ack);
        std::printf("discovery\n");
        std::fflush(stdout);
    } else if (cmd == 0xF008 && n >= 28 && std::memcmp(g + 8, c.mac, 6) == 0) {
        if (c.noAck)
            return;
        uint8_t ack[8] = {};
        wr16(ack + 2, 0xF009);
        wr16(ack + 6, req);
        sendUdp(w, c, mac, to, srcPort, ack, sizeof ack);
        std::memcpy(&c.ip, g + 14, 4);
        std::memcpy(&c.mask, g + 18, 4);
        std::printf("force-ip %s %s\n", dotted(c.ip).c_str(), dotted(c.mask).c_str());
        std::fflush(stdout);
    }
}

void answerArp(Wire& w, const Camera& c, const uint8_t* a)
{
    // a: the ARP payload (after the Ethernet header).
    if (rd16(a + 6) != 1)
        return;  // requests only
    uint32_t target;
    std::memcpy(&target, a + 24, 4);
    const uint32_t t = ntohl(target);
    const bool mine = target == c.ip || (c.occupyFrom && t >= c.occupyFrom && t <= c.occupyTo);
    if (!mine)
        return;
    uint8_t f[60] = {};
    std::memcpy(f, a + 8, 6);  // to the requester
    std::memcpy(f + 6, c.mac, 6);
    wr16(f + 12, ETH_P_ARP);
    uint8_t* r = f + 14;
    wr16(r, 1);
    wr16(r + 2, ETH_P_IP);
    r[4] = 6;
    r[5] = 4;
    wr16(r + 6, 2);
    std::memcpy(r + 8, c.mac, 6);
    std::memcpy(r + 14, &target, 4);
    std::memcpy(r + 18, a + 8, 6);
    std::memcpy(r + 24, a + 14, 4);
    w.send(f, sizeof f);
    std::printf("arp %s\n", dotted(target).c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Camera cam;
    const char* iface = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--iface")
            iface = next();
        else if (a == "--mac") {
            if (!parseMac(next(), cam.mac)) {
                std::fprintf(stderr, "gige-sim: bad --mac\n");
                return 2;
            }
        } else if (a == "--ip")
            cam.ip = inet_addr(next());
        else if (a == "--mask")
            cam.mask = inet_addr(next());
        else if (a == "--info")
            cam.info = next();
        else if (a == "--no-ack")
            cam.noAck = true;
        else if (a == "--occupy") {
            const std::string r = next();
            const size_t dash = r.find('-');
            const std::string from = r.substr(0, dash);
            cam.occupyFrom = ntohl(inet_addr(from.c_str()));
            cam.occupyTo = dash == std::string::npos ? cam.occupyFrom
                                                     : (cam.occupyFrom & 0xFFFFFF00u) | uint32_t(std::atoi(r.c_str() + dash + 1));
        } else {
            std::fprintf(stderr, "usage: gige-sim --iface IF --mac MAC --ip IP --mask MASK [--info TEXT] [--no-ack] "
                                 "[--occupy A.B.C.D-E]\n");
            return 2;
        }
    }
    if (!iface) {
        std::fprintf(stderr, "gige-sim: --iface is needed\n");
        return 2;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    Wire wire;
    if (!wire.open(iface))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    bool stdinOpen = true;
    while (!stopRequested) {
        pollfd fds[2] = {{wire.fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, stdinOpen ? 2 : 1, 200) <= 0)
            continue;
        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buf[64];
            const ssize_t r = ::read(STDIN_FILENO, buf, sizeof buf - 1);
            if (r <= 0)
                stdinOpen = false;
            else if (std::strncmp(buf, "quit", 4) == 0)
                break;
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        uint8_t f[2048];
        sockaddr_ll from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(wire.fd, f, sizeof f, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 14 || from.sll_pkttype == PACKET_OUTGOING)
            continue;
        const uint16_t type = rd16(f + 12);
        if (type == ETH_P_ARP && n >= 14 + 28) {
            answerArp(wire, cam, f + 14);
        } else if (type == ETH_P_IP && n >= 14 + 28) {
            const uint8_t* ip = f + 14;
            const size_t ihl = size_t(ip[0] & 0x0F) * 4;
            if (ip[9] != IPPROTO_UDP || size_t(n) < 14 + ihl + 8)
                continue;
            const uint8_t* udp = ip + ihl;
            if (rd16(udp + 2) != 3956)
                continue;
            uint32_t dst, src;
            std::memcpy(&dst, ip + 16, 4);
            std::memcpy(&src, ip + 12, 4);
            if (dst != htonl(INADDR_BROADCAST) && dst != cam.ip)
                continue;
            const size_t udpLen = std::min<size_t>(rd16(udp + 4), size_t(n) - 14 - ihl);
            if (udpLen < 8)
                continue;
            answerGvcp(wire, cam, f + 6, src, rd16(udp), udp + 8, udpLen - 8);
        }
    }
    ::close(wire.fd);
    return 0;
}
