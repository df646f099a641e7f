// Aravis (GLib) first: Qt's "signals" keyword would break GLib's headers.
#include <arv.h>

#include "GenicamCamera.h"

#include "Host.h"
#include "WizardPara.h"

#include <QtDebug>
#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <mutex>
#include <net/if.h>

namespace {
// Logs and clears an Aravis error; true when there was none.
bool fine(GError*& error, const char* what)
{
    if (!error)
        return true;
    qWarning() << "GenICam:" << what << "failed:" << error->message;
    g_clear_error(&error);
    return false;
}

// Decides once per process which transports Aravis may use.
void chooseInterfaces()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!GenicamCamera::GigeEnumerationAllowed()) {
            arv_disable_interface("GigEVision");
            platform::Host::instance().skipped("genicam-gige-enumeration",
                                               {"not a panel and not every interface in STATION_GIGE_IFACES: nothing sent"});
        }
        arv_disable_interface("Fake");
    });
}

bool isColourFormat(const char* name)
{
    return name && (std::strstr(name, "Bayer") || std::strstr(name, "RGB") || std::strstr(name, "BGR"));
}
} // namespace

bool GenicamCamera::GigeEnumerationAllowed()
{
    const platform::Host& host = platform::Host::instance();
    if (host.isPanel())
        return true;
    if (!host.gigeAnyAllowed())
        return false;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool all = true;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK) ||
            !(a->ifa_flags & IFF_UP))
            continue;
        all = all && host.gigeAllowed(QString::fromLocal8Bit(a->ifa_name));
    }
    freeifaddrs(list);
    return all;
}

bool GenicamCamera::Probe(int& found, int& width, int& height, int& sensorW, int& sensorH, bool& colour)
{
    chooseInterfaces();
    arv_update_device_list();
    const unsigned n = arv_get_n_devices();
    if (n == 0)
        return false;
    GError* error = nullptr;
    ArvCamera* cam = arv_camera_new(arv_get_device_id(0), &error);
    if (!fine(error, "open for detection") || !cam)
        return false;
    gint x = 0, y = 0, w = 0, h = 0, sw = 0, sh = 0;
    arv_camera_get_region(cam, &x, &y, &w, &h, &error);
    fine(error, "region");
    arv_camera_get_sensor_size(cam, &sw, &sh, &error);
    fine(error, "sensor size");
    colour = isColourFormat(arv_camera_get_pixel_format_as_string(cam, &error));
    fine(error, "pixel format");
    g_object_unref(cam);
    found = int(n);
    width = w;
    height = h;
    sensorW = sw > 0 ? sw : w;
    sensorH = sh > 0 ? sh : h;
    return w > 0 && h > 0;
}

GenicamCamera::GenicamCamera(int index) : CameraDevice(index, 13) {}

GenicamCamera::~GenicamCamera()
{
    if (opened())
        CameraClose();
}

bool GenicamCamera::openKind()
{
    chooseInterfaces();
    arv_update_device_list();
    const unsigned n = arv_get_n_devices();
    const char* want = gSerialNB[m_index];
    const char* id = nullptr;
    if (std::strlen(want) < 9) {
        if (unsigned(m_index) < n)
            id = arv_get_device_id(unsigned(m_index));
    } else {
        for (unsigned i = 0; i < n && !id; ++i) {
            const char* s = arv_get_device_serial_nbr(i);
            if (s && std::strcmp(s, want) == 0)
                id = arv_get_device_id(i);
        }
    }
    if (!id)
        return false;
    GError* error = nullptr;
    m_camera = arv_camera_new(id, &error);
    if (!fine(error, "open") || !m_camera)
        return false;
    const char* serial = arv_camera_get_device_serial_number(m_camera, &error);
    fine(error, "serial");
    m_serial = QString::fromUtf8(serial ? serial : "");

    // Colour frames only from a colour camera in colour mode, else grey.
    m_rgb = false;
    if (gisColor && gSensorColor) {
        arv_camera_set_pixel_format(m_camera, ARV_PIXEL_FORMAT_RGB_8_PACKED, &error);
        m_rgb = fine(error, "RGB pixel format");
    }
    if (!m_rgb) {
        arv_camera_set_pixel_format(m_camera, ARV_PIXEL_FORMAT_MONO_8, &error);
        fine(error, "Mono8 pixel format");
    }
    gint x = 0, y = 0, w = 0, h = 0;
    arv_camera_get_region(m_camera, &x, &y, &w, &h, &error);
    fine(error, "region");
    if (w != gImageW || h != gImageH) {
        gint sw = 0, sh = 0;
        arv_camera_get_sensor_size(m_camera, &sw, &sh, &error);
        fine(error, "sensor size");
        arv_camera_set_region(m_camera, std::max(0, (sw - gImageW) / 2), std::max(0, (sh - gImageH) / 2), gImageW,
                              gImageH, &error);
        fine(error, "set region");
    }
    return true;
}

void GenicamCamera::freeStream()
{
    if (m_stream) {
        g_object_unref(m_stream);
        m_stream = nullptr;
    }
}

void GenicamCamera::startKind()
{
    GError* error = nullptr;
    freeStream();
    m_stream = arv_camera_create_stream(m_camera, nullptr, nullptr, &error);
    if (!fine(error, "stream") || !m_stream)
        return;
    const guint payload = arv_camera_get_payload(m_camera, &error);
    fine(error, "payload");
    for (int i = 0; i < kBuffers; ++i)
        arv_stream_push_buffer(m_stream, arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(m_camera, &error);
    fine(error, "start");
}

void GenicamCamera::stopKind()
{
    GError* error = nullptr;
    arv_camera_stop_acquisition(m_camera, &error);
    fine(error, "stop");
}

void GenicamCamera::closeKind()
{
    freeStream();
    if (m_camera) {
        g_object_unref(m_camera);
        m_camera = nullptr;
    }
}

bool GenicamCamera::threadPass()
{
    if (!m_stream)
        return true;
    ArvBuffer* buffer = arv_stream_timeout_pop_buffer(m_stream, 100000);
    if (!buffer)
        return true;
    if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
        size_t size = 0;
        const void* data = arv_buffer_get_image_data(buffer, &size);
        const bool rgb = arv_buffer_get_image_pixel_format(buffer) == ARV_PIXEL_FORMAT_RGB_8_PACKED;
        if (arv_buffer_get_image_width(buffer) == gImageW && arv_buffer_get_image_height(buffer) == gImageH &&
            (rgb || arv_buffer_get_image_pixel_format(buffer) == ARV_PIXEL_FORMAT_MONO_8)) {
            // RGB as sent; the station's 3-byte order is B, G, R.
            if (rgb) {
                std::vector<unsigned char> bgr(static_cast<const unsigned char*>(data),
                                               static_cast<const unsigned char*>(data) + size);
                for (size_t i = 0; i + 2 < bgr.size(); i += 3)
                    std::swap(bgr[i], bgr[i + 2]);
                deliver(bgr.data(), bgr.size(), Layout::Rgb24);
            } else {
                deliver(static_cast<const unsigned char*>(data), size, Layout::Mono8);
            }
        } else {
            deliver(nullptr, 0, Layout::Mono8);  // counted as refused
        }
    }
    arv_stream_push_buffer(m_stream, buffer);
    return false;  // the pop waited already
}

void GenicamCamera::changeTrigKind(bool)
{
    GError* error = nullptr;
    if (CameraParams().use_external_trigger) {
        arv_camera_set_trigger(m_camera, "Line1", &error);
        fine(error, "hardware trigger");
    } else {
        arv_camera_clear_triggers(m_camera, &error);
        fine(error, "free run");
        arv_camera_set_acquisition_mode(m_camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
        fine(error, "continuous");
    }
}

void GenicamCamera::exposeKind(const WizardPara& p)
{
    GError* error = nullptr;
    if (p.auto_expose) {
        arv_camera_set_exposure_time_auto(m_camera, ARV_AUTO_CONTINUOUS, &error);
        fine(error, "auto exposure");
        return;
    }
    if (arv_camera_is_exposure_auto_available(m_camera, nullptr))
        arv_camera_set_exposure_time_auto(m_camera, ARV_AUTO_OFF, nullptr);
    double lo = 0, hi = 0;
    arv_camera_get_exposure_time_bounds(m_camera, &lo, &hi, &error);
    fine(error, "exposure bounds");
    double us = p.expose_time[m_index] * 1000.0;
    if (hi > lo)
        us = std::clamp(us, lo, hi);
    arv_camera_set_exposure_time(m_camera, us, &error);
    fine(error, "exposure");
}

void GenicamCamera::gainKind(const WizardPara& p)
{
    GError* error = nullptr;
    double lo = 0, hi = 0;
    arv_camera_get_gain_bounds(m_camera, &lo, &hi, &error);
    if (!fine(error, "gain bounds") || hi <= lo)
        return;
    arv_camera_set_gain(m_camera, lo + (hi - lo) / 64.0 * p.adjust_plus[m_index], &error);
    fine(error, "gain");
}

void GenicamCamera::speedKind(int speed)
{
    GError* error = nullptr;
    arv_camera_set_frame_rate(m_camera, speed <= 4 ? 20.0 : double(speed), &error);
    fine(error, "frame rate");
}

QString GenicamCamera::serialNumber() const { return m_serial; }

int GenicamCamera::Count()
{
    chooseInterfaces();
    arv_update_device_list();
    return int(arv_get_n_devices());
}
