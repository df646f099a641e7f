#pragma once
// Kind 12: cameras of the dvp SDK; frames arrive through the stream callback,
// of which one in (frame skip + 1) is used.
#include "CameraDevice.h"
#include "DVPCamera.h"

class DvpCamera : public CameraDevice {
public:
    explicit DvpCamera(int index);
    ~DvpCamera() override;
    static dvpInt32 dvpStreamCallback(dvpHandle handle, dvpStreamEvent event, void* widget, dvpFrame* frame, void* data);
    bool IsValidHandle(unsigned handle) const;
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
    void contrastKind(const WizardPara& p) override;
    void gammaKind(const WizardPara& p) override;
    void defaultsKind() override;

private:
    void configure();
    dvpHandle m_handle = 0;
    std::atomic<int> m_skip{0};
    int m_counter = 0;  // callback thread only
};
