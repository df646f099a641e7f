#include "CameraDevice.h"
#include "DahengCamera.h"
#include "DvpCamera.h"
#include "GenicamCamera.h"
#include "HikCamera.h"
#include "IdsCamera.h"
#include "MindCamera.h"
#include "SimCamera.h"
#include "UsbCamera.h"

std::unique_ptr<CameraDevice> CreateCameraDevice(int kind, int index)
{
    switch (kind) {
    case 4: return std::make_unique<DahengCamera>(index);
    case 5: return std::make_unique<IdsCamera>(index);
    case 6: return std::make_unique<MindCamera>(index);
    case 7: return std::make_unique<HikCamera>(index);
    case 9: return std::make_unique<UsbCamera>(index);
    case 12: return std::make_unique<DvpCamera>(index);
    case 13: return std::make_unique<GenicamCamera>(index);
    case 0: return std::make_unique<SimCamera>(index, SimCamera::replaySource());
    default: return nullptr;  // not a camera kind
    }
}
