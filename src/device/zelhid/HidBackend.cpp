#include "device/zelhid/HidBackend.h"

#include "device/zelhid/TableMatch.h"
#include "device/zelhid/Utf.h"

#include <algorithm>

namespace {

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool Served(const HidInterfaceInfo& info)
{
    return IsKnownInterface(g_pKnownIDs_NormalMode, info.nVendorId, info.nProductId, info.nUsagePage, info.nUsage);
}

}  // namespace

CHidBackend::CHidBackend(std::unique_ptr<IHidTransport> transport, const ProtocolTimeouts& timeouts)
    : m_transport(std::move(transport)), m_timeouts(timeouts)
{}

CHidBackend::~CHidBackend()
{
    ReleaseAll();
}

std::shared_ptr<std::mutex> CHidBackend::InterfaceLock(const std::string& strPath)
{
    // Objects of the same interface share one lock, so that their exchanges never interleave.
    const std::string key = LowerAscii(strPath);
    std::shared_ptr<std::mutex> lock = m_locks[key].lock();
    if (!lock) {
        lock = std::make_shared<std::mutex>();
        m_locks[key] = lock;
    }
    return lock;
}

std::shared_ptr<CDeviceLock> CHidBackend::FileLock(const HidInterfaceInfo& info)
{
    bool bCreate = false;
    const std::string file = m_transport->LockFile(info, bCreate);
    const std::string key = LowerAscii(file);
    std::shared_ptr<CDeviceLock> lock = m_fileLocks[key].lock();
    if (!lock) {
        lock = std::make_shared<CDeviceLock>(file, bCreate);
        m_fileLocks[key] = lock;
    }
    return lock;
}

CZelHidDevice* CHidBackend::OpenDevice(const HidInterfaceInfo& info, bool bJustArrived)
{
    std::unique_ptr<IHidLink> link = m_transport->Open(info.strPath, bJustArrived);
    if (!link)
        return nullptr;
    auto device =
        std::make_unique<CZelHidDevice>(info, std::move(link), InterfaceLock(info.strPath), m_timeouts, FileLock(info));
    device->SetReopen([transport = m_transport.get(), info] { return transport->Reopen(info); });
    if (!device->Identify())
        return nullptr;  // never handed out, so it may go at once
    m_live.push_back(std::move(device));
    return m_live.back().get();
}

void CHidBackend::Retire(size_t index)
{
    m_live[index]->Close();
    m_retired.push_back(std::move(m_live[index]));
    m_live.erase(m_live.begin() + static_cast<std::ptrdiff_t>(index));
}

const ZEL_USB_DEVICE_ARRAY* CHidBackend::Enumerate(bool bRescan, const char16_t* pszPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!bRescan && !pszPath && m_bScanned)
        return &m_result;
    const std::string onlyPath = pszPath ? Utf16ToUtf8(pszPath) : std::string();
    std::vector<CZelUsbDevice*> found;
    std::vector<std::string> present;
    for (const HidInterfaceInfo& info : m_transport->Enumerate()) {
        present.push_back(info.strPath);
        if (!Served(info) || (pszPath && !EqualsIgnoreAsciiCase(info.strPath, onlyPath)))
            continue;
        // A live object of this interface that still reaches its device is handed out again.
        CZelHidDevice* pDevice = nullptr;
        for (const auto& live : m_live)
            if (live->TransportPath() == info.strPath && live->IsLinkConnected() &&
                std::find(found.begin(), found.end(), live.get()) == found.end()) {
                pDevice = live.get();
                pDevice->RefreshIfIdle();
                break;
            }
        if (!pDevice)
            pDevice = OpenDevice(info, false);
        if (pDevice)
            found.push_back(pDevice);
    }
    // Objects whose interface has gone are closed; the program may still hold them.
    if (!pszPath) {
        for (size_t i = m_live.size(); i-- > 0;) {
            const bool bPresent =
                std::find(present.begin(), present.end(), m_live[i]->TransportPath()) != present.end();
            if (!bPresent || !m_live[i]->IsLinkConnected())
                if (std::find(found.begin(), found.end(), m_live[i].get()) == found.end())
                    Retire(i);
        }
        m_bScanned = true;
    }
    m_array = std::move(found);
    m_result.nCount = static_cast<uint32_t>(m_array.size());
    m_result.ppDevices = m_array.empty() ? nullptr : m_array.data();
    return &m_result;
}

CZelUsbDevice* CHidBackend::Add(const char16_t* pszPath)
{
    if (!pszPath)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!g_pKnownIDs_NormalMode)
        return nullptr;
    const std::optional<HidInterfaceInfo> info = m_transport->Describe(Utf16ToUtf8(pszPath));
    if (!info || !Served(*info))
        return nullptr;
    return OpenDevice(*info, true);
}

void CHidBackend::Release(CZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < m_live.size(); ++i)
        if (m_live[i].get() == pDevice) {
            Retire(i);
            return;
        }
}

void CHidBackend::Release(const char16_t* pszPath)
{
    if (!pszPath)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::u16string path(pszPath);
    for (size_t i = m_live.size(); i-- > 0;)
        if (EqualsIgnoreAsciiCase(std::u16string(m_live[i]->GetDevicePath()), path))
            Retire(i);
}

void CHidBackend::ReleaseAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& device : m_live)
        device->Close();
    for (auto& device : m_retired)
        device->Close();
    // Let an operation that is still running notice the release and let go of its interface.
    for (auto& device : m_live)
        std::lock_guard<std::mutex> wait(device->InterfaceLock());
    for (auto& device : m_retired)
        std::lock_guard<std::mutex> wait(device->InterfaceLock());
    m_live.clear();
    m_retired.clear();
    m_array.clear();
    m_result = ZEL_USB_DEVICE_ARRAY{0, nullptr};
    m_bScanned = false;
}

CZelHidDevice* CHidBackend::Find(CZelUsbDevice* pDevice)
{
    for (const auto* pList : {&m_live, &m_retired})
        for (const auto& device : *pList)
            if (device.get() == pDevice)
                return device.get();
    return nullptr;
}

std::string CHidBackend::LastError(CZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const CZelHidDevice* pOwn = Find(pDevice);
    return pOwn ? pOwn->LastError() : std::string();
}

void CHidBackend::ClearLastError(CZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CZelHidDevice* pOwn = Find(pDevice))
        pOwn->ClearLastError();
}

const char16_t* CHidBackend::SerialNumber(CZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CZelHidDevice* pOurs = Find(pDevice);
    return pOurs ? pOurs->SerialNumber().c_str() : nullptr;
}

int CHidBackend::HeldBy(CZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CZelHidDevice* pOurs = Find(pDevice);
    return pOurs ? pOurs->ProbeHeldBy() : 0;
}

size_t CHidBackend::LiveCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live.size();
}

size_t CHidBackend::RetiredCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_retired.size();
}
