#include "device/zelhid/ZelHidBackend.h"

#include "device/zelhid/HidBackend.h"
#include "device/zelhid/HidapiTransport.h"
#include "device/zelhid/Notifiers.h"

std::unique_ptr<IZelHidBackend> CreateHidapiBackend()
{
    return std::make_unique<CHidBackend>(std::make_unique<CHidapiTransport>(CreateSystemHidapi()));
}

std::unique_ptr<IDeviceNotifier> CreateUdevNotifier()
{
    return std::make_unique<CUdevNotifier>();
}
