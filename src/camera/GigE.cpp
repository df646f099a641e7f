#include "GigE.h"

#include "Host.h"
#include "MvCameraControl.h"

#include <QtDebug>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::atomic<uint16_t> gRequestId{0};

long long monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
uint16_t get16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

QString dotted(uint32_t netOrder)
{
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&netOrder);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

bool bindToDevice(int fd, const QString& name)
{
    const QByteArray n = name.toLocal8Bit();
    return setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, n.constData(), socklen_t(n.size() + 1)) == 0;
}
} // namespace

uint16_t MakeGvcpHead(uint8_t* buf, uint16_t command, uint16_t length, bool ack, bool broadcastAck)
{
    const uint16_t id = uint16_t(gRequestId.fetch_add(1) + 1);
    buf[0] = 0x42;
    buf[1] = uint8_t((ack ? 0x10 : 0x00) | (broadcastAck ? 0x01 : 0x00));
    put16(buf + 2, command);
    put16(buf + 4, length);
    put16(buf + 6, id == 0 ? 1 : id);
    return get16(buf + 6);
}

bool GetIpFromString(const char* text, uint8_t out[4])
{
    if (!text)
        return false;
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
        return false;
    out[0] = uint8_t(a);
    out[1] = uint8_t(b);
    out[2] = uint8_t(c);
    out[3] = uint8_t(d);
    return true;
}

// --- sockets ---------------------------------------------------------------------
CBroadcastSocket::CBroadcastSocket(uint32_t interfaceIp, const QString& name, uint16_t port) : m_peerPort(port)
{
    std::mt19937 rng(unsigned(monotonicMs()) ^ interfaceIp);
    std::uniform_int_distribution<int> pick(10001, 65535);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const uint16_t p = uint16_t(pick(rng));
        const int r = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        bool good = r >= 0 && s >= 0;
        for (int fd : {r, s}) {
            if (fd < 0)
                continue;
            good = good && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0 &&
                   setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
            // Tied to the interface: a broadcast never leaves through another.
            good = good && bindToDevice(fd, name);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(p);
        a.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        good = good && ::bind(r, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        a.sin_addr.s_addr = interfaceIp;
        good = good && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (good) {
            m_recv = r;
            m_send = s;
            m_port = p;
            return;
        }
        const int err = errno;
        if (r >= 0)
            ::close(r);
        if (s >= 0)
            ::close(s);
        if (err == EPERM || err == EACCES) {
            qWarning() << "GigE: no privilege for the sockets of" << name << "(" << std::strerror(err) << ")";
            return;
        }
    }
    qWarning() << "GigE: no free port on" << name;
}

CBroadcastSocket::~CBroadcastSocket()
{
    if (m_recv >= 0)
        ::close(m_recv);
    if (m_send >= 0)
        ::close(m_send);
}

bool CBroadcastSocket::sendBroadcast(const uint8_t* data, size_t len)
{
    if (!ok())
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_peerPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    return ::sendto(m_send, data, len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == ssize_t(len);
}

int CBroadcastSocket::receive(uint8_t* buf, size_t len, int timeoutMs)
{
    if (!ok())
        return -1;
    pollfd fds[2] = {{m_recv, POLLIN, 0}, {m_send, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0)
        return -1;
    for (const pollfd& f : fds)
        if (f.revents & POLLIN) {
            const ssize_t n = ::recv(f.fd, buf, len, 0);
            if (n > 0)
                return int(n);
        }
    return -1;
}

// --- devices -----------------------------------------------------------------------
std::array<uint8_t, 6> GevDevice::mac() const
{
    std::array<uint8_t, 6> m{};
    std::memcpy(m.data(), ack.data() + 18, 6);
    return m;
}
uint32_t GevDevice::ip() const
{
    uint32_t v;
    std::memcpy(&v, ack.data() + 44, 4);
    return v;
}
uint32_t GevDevice::mask() const
{
    uint32_t v;
    std::memcpy(&v, ack.data() + 60, 4);
    return v;
}

// --- discovery ---------------------------------------------------------------------
CGevDiscovery::CGevDiscovery(uint32_t interfaceIp, const QString& name, const std::string& tag, bool automatic)
    : m_socket(interfaceIp, name), m_tag(tag), m_automatic(automatic)
{
    if (!m_socket.ok())
        return;
    m_rev = std::thread([this] { RevThread(); });
    if (m_automatic) {
        m_send = std::thread([this] { SendThread(); });
        m_chk = std::thread([this] { ChkThread(); });
    }
}

CGevDiscovery::~CGevDiscovery()
{
    m_stop = true;
    for (std::thread* t : {&m_rev, &m_send, &m_chk})
        if (t->joinable())
            t->join();
}

bool CGevDiscovery::SendDiscovery()
{
    if (!m_automatic) {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_list.clear();
    }
    uint8_t head[8];
    head[0] = 0x42;
    head[1] = 0x11;
    put16(head + 2, kGvcpDiscoveryCmd);
    put16(head + 4, 0);
    put16(head + 6, ++m_counter);
    return m_socket.sendBroadcast(head, sizeof head);
}

void CGevDiscovery::RevThread()
{
    uint8_t buf[kGvcpAckLen];
    while (!m_stop) {
        std::memset(buf, 0, sizeof buf);
        const int n = m_socket.receive(buf, sizeof buf, 200);
        if (n < 8 || get16(buf + 2) != kGvcpDiscoveryAck)
            continue;
        // The manufacturer-specific information at 176 must start with the tag.
        if (size_t(n) < 176 + m_tag.size() || std::memcmp(buf + 176, m_tag.data(), m_tag.size()) != 0)
            continue;
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        bool known = false;
        for (Entry& e : m_list)
            if (e.valid && std::memcmp(e.ack.data() + 18, buf + 18, 6) == 0 &&
                std::memcmp(e.ack.data() + 44, buf + 44, 4) == 0) {
                e.seenMs = monotonicMs();
                known = true;
            }
        if (!known && m_list.size() < 250) {
            Entry e;
            std::memcpy(e.ack.data(), buf, sizeof buf);
            e.valid = true;
            e.seenMs = monotonicMs();
            m_list.push_back(e);
        }
    }
}

void CGevDiscovery::SendThread()
{
    while (!m_stop) {
        SendDiscovery();
        for (int i = 0; i < 10 && !m_stop; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void CGevDiscovery::ChkThread()
{
    while (!m_stop) {
        DeviceListChk();
        for (int i = 0; i < 10 && !m_stop; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void CGevDiscovery::DeviceListChk()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const long long now = monotonicMs();
    for (Entry& e : m_list)
        if (now - e.seenMs > 3000)
            e.valid = false;
}

std::vector<GevDevice> CGevDiscovery::GetDiscoveryList()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<GevDevice> out;
    for (const Entry& e : m_list)
        if (e.valid) {
            GevDevice d;
            d.ack = e.ack;
            out.push_back(d);
        }
    return out;
}

// --- force-IP ---------------------------------------------------------------------
CGevForceIp::CGevForceIp(uint32_t interfaceIp, const QString& name) : m_socket(interfaceIp, name) {}

bool CGevForceIp::GevSetForceIpCustom(const uint8_t mac[6], const uint8_t ip[4], const uint8_t mask[4],
                                      const uint8_t gateway[4], uint8_t extra1, uint8_t extra2, bool ack)
{
    uint8_t cmd[64] = {};
    const uint16_t id = MakeGvcpHead(cmd, kGvcpForceIpCustomCmd, 0x0038, ack, true);
    std::memcpy(cmd + 8, mac, 6);
    std::memcpy(cmd + 14, ip, 4);
    std::memcpy(cmd + 18, mask, 4);
    std::memcpy(cmd + 22, gateway, 4);
    cmd[26] = extra1;
    cmd[27] = extra2;
    if (!ack)
        return m_socket.sendBroadcast(cmd, sizeof cmd);
    for (int send = 0; send < 4; ++send) {
        if (!m_socket.sendBroadcast(cmd, sizeof cmd))
            continue;
        uint8_t buf[kGvcpAckLen];
        for (int read = 0; read < 200; ++read) {
            const int n = m_socket.receive(buf, sizeof buf, 0);
            if (n >= 8 && get16(buf + 2) == kGvcpForceIpCustomAck && get16(buf + 6) == id)
                return buf[0] == 0 && buf[1] == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return false;
}

// --- ARP ------------------------------------------------------------------------------
int arpping(uint32_t candidate, uint32_t interfaceIp, const uint8_t mac[6], const QString& name)
{
    static std::atomic<bool> said{false};
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP));
    if (fd < 0) {
        if (!said.exchange(true))
            qWarning() << "GigE: no raw socket for ARP probes (" << std::strerror(errno)
                       << "); candidates are taken unprobed";
        return -1;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    const unsigned index = if_nametoindex(name.toLocal8Bit().constData());
    uint8_t frame[60] = {};
    std::memset(frame, 0xFF, 6);
    std::memcpy(frame + 6, mac, 6);
    put16(frame + 12, ETH_P_ARP);
    put16(frame + 14, 1);       // Ethernet
    put16(frame + 16, 0x0800);  // IPv4
    frame[18] = 6;
    frame[19] = 4;
    put16(frame + 20, 1);  // request
    std::memcpy(frame + 22, mac, 6);
    std::memcpy(frame + 28, &interfaceIp, 4);
    std::memcpy(frame + 38, &candidate, 4);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = int(index);
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xFF, 6);
    int result = 0;
    if (index && ::sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == sizeof frame) {
        result = 1;
        const long long until = monotonicMs() + 1000;
        while (monotonicMs() < until) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::max(1LL, until - monotonicMs()))) <= 0)
                continue;
            uint8_t in[128];
            const ssize_t n = ::recv(fd, in, sizeof in, 0);
            if (n < 42 || get16(in + 12) != ETH_P_ARP || get16(in + 20) != 2)
                continue;
            if (std::memcmp(in + 32, mac, 6) == 0 && std::memcmp(in + 28, &candidate, 4) == 0) {
                result = 0;  // someone has it
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

// --- the repair ------------------------------------------------------------------------
unsigned CIpConfig::testSeed = 0;

CIpConfig::CIpConfig() = default;
CIpConfig::~CIpConfig() = default;

int CIpConfig::DeviceEnumeInit()
{
    m_discoveries.clear();
    m_interfaces.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    const platform::Host& host = platform::Host::instance();
    for (ifaddrs* a = list; a && m_interfaces.size() < 32; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask)
            continue;
        NetInterface n;
        n.name = QString::fromLocal8Bit(a->ifa_name);
        n.ip = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        n.mask = reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
        const uint8_t first = reinterpret_cast<const uint8_t*>(&n.ip)[0];
        if (first == 0 || first == 255 || n.ip == htonl(INADDR_LOOPBACK) || n.ip == inet_addr("224.0.0.1"))
            continue;
        if (!host.gigeAllowed(n.name))
            continue;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq req{};
        std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", a->ifa_name);
        if (fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &req) == 0)
            std::memcpy(n.mac.data(), req.ifr_hwaddr.sa_data, 6);
        if (fd >= 0)
            ::close(fd);
        m_interfaces.push_back(n);
    }
    freeifaddrs(list);
    for (const NetInterface& n : m_interfaces)
        m_discoveries.push_back(std::make_unique<CGevDiscovery>(n.ip, n.name, "F622", false));
    return int(m_interfaces.size());
}

int CIpConfig::RefreshDevList()
{
    for (auto& d : m_discoveries)
        d->SendDiscovery();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m_devices.clear();
    for (size_t i = 0; i < m_discoveries.size() && m_devices.size() < 8000; ++i)
        for (GevDevice d : m_discoveries[i]->GetDiscoveryList()) {
            d.interfaceIndex = int(i);
            m_devices.push_back(d);
        }
    return int(m_devices.size());
}

bool CIpConfig::IsDevIPValid(int i) const
{
    if (i < 0 || i >= int(m_devices.size()))
        return false;
    const GevDevice& d = m_devices[size_t(i)];
    const NetInterface& n = m_interfaces[size_t(d.interfaceIndex)];
    return (n.ip & n.mask) == (d.ip() & d.mask()) && d.ip() != n.ip;
}

bool CIpConfig::AutoSetIpAddr(int i)
{
    if (i < 0 || i >= int(m_devices.size()))
        return false;
    const GevDevice& d = m_devices[size_t(i)];
    const NetInterface& n = m_interfaces[size_t(d.interfaceIndex)];
    std::mt19937 rng(testSeed ? testSeed : unsigned(monotonicMs()));
    std::uniform_int_distribution<int> byte(10, 254);
    uint32_t chosen = 0, last = 0;
    for (int attempt = 0; attempt < 5 && !chosen; ++attempt) {
        uint32_t candidate = 0;
        for (int draw = 0; draw < 100; ++draw) {
            uint8_t c[4];
            const uint8_t* ip = reinterpret_cast<const uint8_t*>(&n.ip);
            const uint8_t* mask = reinterpret_cast<const uint8_t*>(&n.mask);
            for (int k = 0; k < 4; ++k)
                c[k] = uint8_t((ip[k] & mask[k]) | (~mask[k] & uint8_t(byte(rng))));
            std::memcpy(&candidate, c, 4);
            if (candidate != n.ip)
                break;
            candidate = 0;
        }
        last = candidate;
        if (!candidate)
            continue;
        if (arpping(candidate, n.ip, n.mac.data(), n.name) != 0)  // free, or no probe possible
            chosen = candidate;
    }
    if (!chosen)
        chosen = last;
    const std::array<uint8_t, 6> mac = d.mac();
    uint8_t ip[4], mask[4], gw[4] = {0, 0, 0, 0};
    std::memcpy(ip, &chosen, 4);
    std::memcpy(mask, &n.mask, 4);
    CGevForceIp force(n.ip, n.name);
    const bool ok = force.GevSetForceIpCustom(mac.data(), ip, mask, gw, 0, 1, true);
    if (ok)
        m_lastAssigned = chosen;
    QString macText;
    GetDevInfo(i, nullptr, nullptr, nullptr, &macText);
    qInfo().noquote() << "GigE camera" << macText << "at" << dotted(d.ip()) << (ok ? "moved to" : "did not take") << dotted(chosen) << "on"
                      << n.name;
    return ok;
}

bool CIpConfig::SetIpAddr(int i, const char* ipText, const char* maskText, const char* gatewayText)
{
    if (i < 0 || i >= int(m_devices.size()))
        return false;
    uint8_t ip[4], mask[4], gw[4];
    if (!GetIpFromString(ipText, ip) || !GetIpFromString(maskText, mask) || !GetIpFromString(gatewayText, gw))
        return false;
    const GevDevice& d = m_devices[size_t(i)];
    const NetInterface& n = m_interfaces[size_t(d.interfaceIndex)];
    CGevForceIp force(n.ip, n.name);
    const std::array<uint8_t, 6> mac = d.mac();
    return force.GevSetForceIpCustom(mac.data(), ip, mask, gw, 0, 1, true);
}

bool CIpConfig::GetDevInfo(int i, QString* ip, QString* mask, QString* gateway, QString* mac) const
{
    if (i < 0 || i >= int(m_devices.size()))
        return false;
    const GevDevice& d = m_devices[size_t(i)];
    if (ip)
        *ip = dotted(d.ip());
    if (mask)
        *mask = dotted(d.mask());
    if (gateway) {
        uint32_t g;
        std::memcpy(&g, d.ack.data() + 76, 4);
        *gateway = dotted(g);
    }
    if (mac) {
        const auto m = d.mac();
        *mac = QString::asprintf("%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    }
    return true;
}

int RepairAllCameraIP()
{
    platform::Host& host = platform::Host::instance();
    if (!host.gigeAnyAllowed()) {
        host.skipped("gige-repair", {"not a panel and STATION_GIGE_IFACES unset: nothing sent"});
        return 0;
    }
    CIpConfig config;
    if (config.DeviceEnumeInit() == 0) {
        qWarning() << "GigE repair: no usable IPv4 interface";
        return -1;
    }
    const int n = config.RefreshDevList();
    int moved = 0;
    for (int i = 0; i < n; ++i)
        if (!config.IsDevIPValid(i) && config.AutoSetIpAddr(i))
            ++moved;
    return moved;
}

// --- Hikvision ------------------------------------------------------------------------------
bool GetNetInfo(std::vector<HostNet>& out)
{
    out.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask)
            continue;
        HostNet n;
        n.name = QString::fromLocal8Bit(a->ifa_name).left(256);
        n.ip = ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
        n.mask = ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
        out.push_back(n);
    }
    freeifaddrs(list);
    return true;
}

uint32_t GetMaskFromIp(const std::vector<HostNet>& nets, uint32_t hostIp, uint32_t fallback)
{
    for (const HostNet& n : nets)
        if (n.ip == hostIp)
            return n.mask;
    return fallback;
}

bool IsFreeIp(uint32_t ip)
{
    QString out;
    platform::Host::instance().ping(dotted(htonl(ip)), &out);
    return !out.contains("ttl", Qt::CaseInsensitive);
}

uint32_t bChooseNoUseIp(uint32_t network, int start, uint32_t avoid)
{
    auto tryIp = [&](int last) -> uint32_t {
        const uint32_t ip = (network & 0xFFFFFF00u) | uint32_t(last);
        if (ip == avoid)
            return 0;
        const bool free = IsFreeIp(ip);
        std::printf("nSetDeviceIp: %s, bFreeIp: %d\n", qPrintable(dotted(htonl(ip))), free ? 1 : 0);
        return free ? ip : 0;
    };
    start = std::clamp(start, 1, 254);
    for (int k = start; k <= 254; ++k)
        if (const uint32_t ip = tryIp(k))
            return ip;
    for (int k = start - 1; k >= 1; --k)
        if (const uint32_t ip = tryIp(k))
            return ip;
    return 0;
}

namespace {
bool DoForceIp(MV_CC_DEVICE_INFO* info, uint32_t ip, uint32_t mask, uint32_t gateway)
{
    void* h = nullptr;
    int r = MV_CC_CreateHandle(&h, info);
    if (r != MV_OK) {
        std::printf("1 MV_CC_CreateHandle fail! nRet [%x]\n", unsigned(r));
        return false;
    }
    r = MV_GIGE_ForceIpEx(h, ip, mask, gateway);
    const bool ok = r == MV_OK;
    if (!ok)
        std::printf("1 MV_GIGE_ForceIpEx fail! nRet [%x]\n", unsigned(r));
    r = MV_CC_DestroyHandle(h);
    if (r != MV_OK)
        std::printf("1 MV_CC_DestroyHandle fail! nRet [%x]\n", unsigned(r));
    return ok;
}
} // namespace

int EnsureDeviceReach()
{
    platform::Host& hostSeam = platform::Host::instance();
    if (!hostSeam.gigeAnyAllowed()) {
        hostSeam.skipped("hikvision-reach", {"not a panel and STATION_GIGE_IFACES unset: nothing sent"});
        return 0;
    }
    std::vector<HostNet> nets;
    if (!GetNetInfo(nets))
        return -1;
    static MV_CC_DEVICE_INFO_LIST list{};
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE, &list) != MV_OK || list.nDeviceNum == 0)
        return 0;
    int unreachable = 0;
    for (unsigned i = 0; i < list.nDeviceNum; ++i) {
        MV_CC_DEVICE_INFO* info = list.pDeviceInfo[i];
        if (!info || info->nTLayerType != MV_GIGE_DEVICE)
            continue;
        const MV_GIGE_DEVICE_INFO& g = info->SpecialInfo.stGigEInfo;
        const uint32_t host = g.nNetExport;
        const uint32_t mask = GetMaskFromIp(nets, host, g.nCurrentSubNetMask);
        const uint32_t cur = g.nCurrentIp;
        if ((cur & mask) == (host & mask)) {
            if (MV_CC_IsDeviceAccessible(info, MV_ACCESS_Exclusive))
                continue;
            ++unreachable;
            continue;
        }
        const uint32_t network = host & 0xFFFFFF00u;
        const uint32_t ip = bChooseNoUseIp(network, int(cur & 0xFF), host);
        if (ip)
            DoForceIp(info, ip, mask, network | 254u);
        ++unreachable;
    }
    return unreachable;
}
