#pragma once
// Kind 5: IDS uEye cameras; the camera writes into the image memory and the
// camera thread takes a frame when that memory has changed.
#include "CameraDevice.h"
#include "ueye.h"

class IdsCamera : public CameraDevice {
public:
    explicit IdsCamera(int index);
    ~IdsCamera() override;
    bool threadPass() override;
    void speedKind(int speed) override;
    QString serialNumber() const override;

protected:
    bool openKind() override;
    void startKind() override;
    void stopKind() override;
    void closeKind() override;
    void exposeKind(const WizardPara& p) override;
    void gainKind(const WizardPara& p) override;
    void gammaKind(const WizardPara& p) override;

private:
    HIDS m_handle = 0;
    char* m_mem = nullptr;
    INT m_memId = 0;
    std::vector<unsigned char> m_last;  // the last frame delivered
};
