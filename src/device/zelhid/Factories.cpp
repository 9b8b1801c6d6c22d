#include "device/zelhid/ZelHidBackend.h"

#include "device/zelhid/HidBackend.h"
#include "device/zelhid/HidapiTransport.h"
#include "device/zelhid/Notifiers.h"
#include "device/zelhid/OnePathTransport.h"

std::unique_ptr<IZelHidBackend> CreateHidapiBackend(const std::string& strOnlyPath)
{
    return std::make_unique<CHidBackend>(
        LimitTransport(std::make_unique<CHidapiTransport>(CreateSystemHidapi()), strOnlyPath));
}

std::unique_ptr<IDeviceNotifier> CreateUdevNotifier()
{
    return std::make_unique<CUdevNotifier>();
}
