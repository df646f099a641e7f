#pragma once
// Kind 7: Hikvision MVS cameras; frames arrive through the SDK's callback.
#include "CameraDevice.h"
#include "MvCameraControl.h"

class HikCamera : public CameraDevice {
public:
    explicit HikCamera(int index);
    ~HikCamera() override;

    static void ImageCallBack(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* widget);
    static void ExceptionImageCallBack(unsigned int msgType, void* widget);
    void speedKind(int speed) override;
    QString serialNumber() const override;

protected:
    bool openKind() override;
    void startKind() override;
    void stopKind() override;
    void closeKind() override;
    void changeTrigKind(bool restart) override;
    void exposeKind(const WizardPara& p) override;
    void gainKind(const WizardPara& p) override;
    void sharpKind(const WizardPara& p) override;
    void gammaKind(const WizardPara& p) override;
    void whiteBalanceKind() override;
    void defaultsKind() override;

private:
    int pixelFormat() const;
    void* m_handle = nullptr;
    MV_CC_DEVICE_INFO* m_info = nullptr;
    MV_CC_PIXEL_CONVERT_PARAM m_convert{};
};
