#pragma once
// Kind 4: Daheng Galaxy cameras; the camera thread takes frames with
// GXGetImage and applies the software contrast.
#include "CameraDevice.h"
#include "GxIAPI.h"

class DahengCamera : public CameraDevice {
public:
    explicit DahengCamera(int index);
    ~DahengCamera() override;
    bool threadPass() override;

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

private:
    GX_DEV_HANDLE m_handle = nullptr;
    std::vector<unsigned char> m_grab;
};
