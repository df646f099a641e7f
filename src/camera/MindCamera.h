#pragma once
// Kind 6: MindVision cameras; the camera thread takes frames with
// CameraGetImageBuffer and processes them with CameraImageProcess.
#include "CameraApi.h"
#include "CameraDevice.h"

// The MindVision device list found at start-up, and the preset resolution
// for cropped 2592-wide sensors.
extern tSdkCameraDevInfo gCList[12];
extern tSdkImageResolution gImageResolution;
// The SDK's version string (recorded at start-up).
void MindSdkVersion(char* out, size_t len);

class MindCamera : public CameraDevice {
public:
    explicit MindCamera(int index);
    ~MindCamera() override;
    bool threadPass() override;
    void speedKind(int speed) override;
    QString serialNumber() const override;
    static void MindConnectStateCallBack(CameraHandle h, UINT state, UINT ignored, void* widget);

protected:
    bool openKind() override;
    void startKind() override;
    void stopKind() override;
    void closeKind() override;
    void changeTrigKind(bool restart) override;
    void exposeKind(const WizardPara& p) override;
    void gainKind(const WizardPara& p) override;
    void sharpKind(const WizardPara& p) override;
    void contrastKind(const WizardPara& p) override;
    void gammaKind(const WizardPara& p) override;
    void whiteBalanceKind() override;
    void mirrorKind(int direction, bool on) override;
    void defaultsKind() override;

private:
    void configureOutput();
    CameraHandle m_handle = 0;
    tSdkCameraCapbility m_cap{};
};
