// The library's entry points, served by the backend selected at start-up.
#include "device/ZelHidApi.h"

#include <atomic>

const _FLASH_INFO* g_pFlashInfo = nullptr;
const _ZEL_USB_DEV_ID_INFO* g_pKnownIDs_NormalMode = nullptr;
const _ZEL_USB_DEV_INFO* g_pKnownDfuPatchInfos = nullptr;

namespace {
std::atomic<IZelHidBackend*> g_pBackend{nullptr};
}

IZelHidBackend* SetZelHidBackend(IZelHidBackend* pBackend)
{
    return g_pBackend.exchange(pBackend);
}

const ZEL_USB_DEVICE_ARRAY* EnumZelUsbDevices(bool bRescan, const char16_t* pszPath)
{
    IZelHidBackend* pBackend = g_pBackend.load();
    return pBackend ? pBackend->Enumerate(bRescan, pszPath) : nullptr;
}

CZelUsbDevice* AddZelUsbDevice(const char16_t* pszPath)
{
    IZelHidBackend* pBackend = g_pBackend.load();
    return pBackend && pszPath ? pBackend->Add(pszPath) : nullptr;
}

void ReleaseZelUsbDevice(CZelUsbDevice* pDevice)
{
    IZelHidBackend* pBackend = g_pBackend.load();
    if (pBackend && pDevice)
        pBackend->Release(pDevice);
}

void ReleaseZelUsbDevice(const char16_t* pszPath)
{
    IZelHidBackend* pBackend = g_pBackend.load();
    if (pBackend && pszPath)
        pBackend->Release(pszPath);
}

void ReleaseZelUsbDevices()
{
    if (IZelHidBackend* pBackend = g_pBackend.load())
        pBackend->ReleaseAll();
}

std::string ZelUsbDeviceLastError(CZelUsbDevice* pDevice)
{
    IZelHidBackend* pBackend = g_pBackend.load();
    return pBackend && pDevice ? pBackend->LastError(pDevice) : std::string();
}

void ZelUsbDeviceClearLastError(CZelUsbDevice* pDevice)
{
    if (IZelHidBackend* pBackend = g_pBackend.load(); pBackend && pDevice)
        pBackend->ClearLastError(pDevice);
}

const char16_t* ZelUsbDeviceSerialNumber(CZelUsbDevice* pDevice)
{
    IZelHidBackend* pBackend = g_pBackend.load();
    return pBackend && pDevice ? pBackend->SerialNumber(pDevice) : nullptr;
}

int ZelUsbDeviceHeldBy(CZelUsbDevice* pDevice)
{
    IZelHidBackend* pBackend = g_pBackend.load();
    return pBackend && pDevice ? pBackend->HeldBy(pDevice) : 0;
}

namespace {
thread_local CReadProgressScope* t_pReadProgress = nullptr;
}

CReadProgressScope::CReadProgressScope(Callback pCallback, void* pContext)
    : m_pCallback(pCallback), m_pContext(pContext), m_pOuter(t_pReadProgress)
{
    t_pReadProgress = this;
}

CReadProgressScope::~CReadProgressScope()
{
    t_pReadProgress = m_pOuter;
}

void CReadProgressScope::Report(uint64_t nDone, uint64_t nTotal)
{
    if (const CReadProgressScope* pScope = t_pReadProgress)
        pScope->m_pCallback(pScope->m_pContext, nDone, nTotal);
}
