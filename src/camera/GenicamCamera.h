#pragma once
// Kind 13: any GigE Vision or USB3 Vision camera through Aravis 0.8 (no
// vendor SDK needed). Opened by position or by serial like the other kinds;
// exposure, gain, trigger mode and frame rate through the camera's GenICam
// features; frames through an Aravis stream with a pool of buffers.
//
// Enumeration sends GigE Vision discovery on every interface Aravis sees, so
// off a panel it is only done when every broadcast-capable IPv4 interface of
// this network namespace is named in STATION_GIGE_IFACES (a test's own
// namespace); otherwise only USB3 Vision cameras are looked for, and the
// skipped GigE search is written to the host journal.
#include "CameraDevice.h"

typedef struct _ArvCamera ArvCamera;
typedef struct _ArvStream ArvStream;

class GenicamCamera : public CameraDevice {
public:
    explicit GenicamCamera(int index);
    ~GenicamCamera() override;

    // Detection: the number of cameras and the first one's sizes and colour.
    static bool Probe(int& found, int& width, int& height, int& sensorW, int& sensorH, bool& colour);
    // Cameras there are now (for the recount after a loss).
    static int Count();
    // Whether GigE Vision enumeration may send here (see above).
    static bool GigeEnumerationAllowed();

    bool threadPass() override;
    void speedKind(int speed) override;
    QString serialNumber() const override;

    static constexpr int kBuffers = 8;

protected:
    bool openKind() override;
    void startKind() override;
    void stopKind() override;
    void closeKind() override;
    void changeTrigKind(bool restart) override;
    void exposeKind(const WizardPara& p) override;
    void gainKind(const WizardPara& p) override;

private:
    void freeStream();

    ArvCamera* m_camera = nullptr;
    ArvStream* m_stream = nullptr;
    bool m_rgb = false;
    QString m_serial;
};
