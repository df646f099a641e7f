#pragma once
// GigE camera addressing: the station's own GigE Vision Control Protocol
// client (discovery, the vendor force-IP command, ARP probes) that moves
// cameras into their port's subnet, and the same job for Hikvision cameras
// through their SDK.
//
// Network discipline: nothing is sent off a panel unless the interface is
// named in STATION_GIGE_IFACES (platform::Host::gigeAllowed); otherwise the
// repair writes one host-journal line and sends nothing.
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

constexpr uint16_t kGvcpPort = 3956;
constexpr uint16_t kGvcpDiscoveryCmd = 0x0002, kGvcpDiscoveryAck = 0x0003;
constexpr uint16_t kGvcpForceIpCustomCmd = 0xF008, kGvcpForceIpCustomAck = 0xF009;
constexpr size_t kGvcpAckLen = 256;

// Writes an 8-byte GVCP command header with the next process-wide request id
// and returns that id. Flags: 0x10 acknowledge, plus 0x01 broadcast ack allowed.
uint16_t MakeGvcpHead(uint8_t* buf, uint16_t command, uint16_t length, bool ack, bool broadcastAck);
// "a.b.c.d" with each number at most 255; false otherwise.
bool GetIpFromString(const char* text, uint8_t out[4]);

// Two UDP sockets on one random port (10001..65535) of an interface: one for
// broadcast answers, one bound to the interface address; both tied to the
// interface so nothing leaves through another.
class CBroadcastSocket {
public:
    CBroadcastSocket(uint32_t interfaceIp, const QString& interfaceName, uint16_t port = kGvcpPort);
    ~CBroadcastSocket();
    bool ok() const { return m_recv >= 0 && m_send >= 0; }
    bool sendBroadcast(const uint8_t* data, size_t len);
    // Waits up to timeoutMs for a datagram on either socket; returns its length or -1.
    int receive(uint8_t* buf, size_t len, int timeoutMs);
    uint16_t localPort() const { return m_port; }

private:
    int m_recv = -1, m_send = -1;
    uint16_t m_port = 0, m_peerPort;
};

struct GevDevice {
    std::array<uint8_t, kGvcpAckLen> ack{};  // the raw discovery acknowledgement
    int interfaceIndex = 0;
    std::array<uint8_t, 6> mac() const;
    uint32_t ip() const;    // network order as received
    uint32_t mask() const;
};

// Discovery on one interface: requests, and a receive thread collecting the
// acknowledgements of devices whose manufacturer information starts with the tag.
class CGevDiscovery {
public:
    CGevDiscovery(uint32_t interfaceIp, const QString& interfaceName, const std::string& tag = "F622",
                  bool automatic = false);
    ~CGevDiscovery();
    bool ok() const { return m_socket.ok(); }
    bool SendDiscovery();
    std::vector<GevDevice> GetDiscoveryList();
    void DeviceListChk();

private:
    struct Entry {
        std::array<uint8_t, kGvcpAckLen> ack{};
        bool valid = false;
        long long seenMs = 0;
    };
    void RevThread();
    void SendThread();
    void ChkThread();

    CBroadcastSocket m_socket;
    std::string m_tag;
    uint16_t m_counter = 0;
    bool m_automatic;
    std::recursive_mutex m_mutex;
    std::vector<Entry> m_list;
    std::atomic<bool> m_stop{false};
    std::thread m_rev, m_send, m_chk;
};

class CGevForceIp {
public:
    CGevForceIp(uint32_t interfaceIp, const QString& interfaceName);
    // Sends the 64-byte custom force-IP command; with ack, up to 4 tries and
    // true only when the device answers with status 0.
    bool GevSetForceIpCustom(const uint8_t mac[6], const uint8_t ip[4], const uint8_t mask[4], const uint8_t gateway[4],
                             uint8_t extra1, uint8_t extra2, bool ack);

private:
    CBroadcastSocket m_socket;
};

struct NetInterface {
    QString name;
    std::array<uint8_t, 6> mac{};
    uint32_t ip = 0, mask = 0;  // network order
};

// One repair: interfaces, their discoveries and the devices found. Nothing of
// it outlives the object (threads joined, sockets closed).
class CIpConfig {
public:
    CIpConfig();
    ~CIpConfig();
    // IPv4 interfaces (at most 32, not 0.x, 255.x, 127.0.0.1 or 224.0.0.1)
    // that may be used, each with its discovery; returns their count.
    int DeviceEnumeInit();
    int RefreshDevList();
    const std::vector<GevDevice>& GetDeviceList() const { return m_devices; }
    bool IsDevIPValid(int device) const;
    bool AutoSetIpAddr(int device);
    bool SetIpAddr(int device, const char* ip, const char* mask, const char* gateway);
    // Texts for display: address, mask and gateway as "%d.%d.%d.%d", MAC as
    // "%02X-%02X-..."; false for an unknown index.
    bool GetDevInfo(int device, QString* ip, QString* mask, QString* gateway, QString* mac) const;
    const std::vector<NetInterface>& interfaces() const { return m_interfaces; }
    // The address the last AutoSetIpAddr gave (network order).
    uint32_t lastAssigned() const { return m_lastAssigned; }

    // Tests: a fixed seed for the address candidates (0: the monotonic clock).
    static unsigned testSeed;

private:
    std::vector<NetInterface> m_interfaces;
    std::vector<std::unique_ptr<CGevDiscovery>> m_discoveries;
    std::vector<GevDevice> m_devices;
    uint32_t m_lastAssigned = 0;
};

// ARP probe for candidate (network order) from the interface: 1 free (no
// reply within 1 s), 0 in use (or the send or wait failed), -1 no raw socket
// (no privilege; said once in the log).
int arpping(uint32_t candidate, uint32_t interfaceIp, const uint8_t mac[6], const QString& interfaceName);

// Every F622 camera outside its interface's subnet (or on the interface's own
// address) gets a new free address. Returns how many were moved; -1 when no
// interface may be used.
int RepairAllCameraIP();

// --- Hikvision cameras through their SDK -----------------------------------
struct HostNet {
    QString name;
    uint32_t ip = 0, mask = 0;  // host order
};
bool GetNetInfo(std::vector<HostNet>& out);
uint32_t GetMaskFromIp(const std::vector<HostNet>& nets, uint32_t hostIp, uint32_t fallback);
// ping answers "ttl": in use. (A dry run pings nothing: every address looks free.)
bool IsFreeIp(uint32_t ip);
// The first free address of network/24 from start up to 254, then below start;
// never avoid (the port's own address). 0 when none.
uint32_t bChooseNoUseIp(uint32_t network, int start, uint32_t avoid = 0);
// Returns the number of Hikvision GigE cameras that stay unreachable; -1 when
// the interfaces cannot be read.
int EnsureDeviceReach();
