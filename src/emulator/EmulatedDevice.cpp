// The device's life: power-up from its flash file, unplug and replug, and what tests observe.
#include "emulator/EmulatedDevice.h"

#include "emulator/FlashFile.h"

#include <algorithm>

using namespace zelproto;

namespace {

FlashChipModel TimedChip(const DeviceDescription& desc)
{
    FlashChipModel chip = *desc.pChip;
    if (desc.timing.nPageProgramUs >= 0)
        chip.nPageProgramUs = static_cast<uint32_t>(desc.timing.nPageProgramUs);
    if (desc.timing.nSectorEraseUs >= 0)
        chip.nSectorEraseUs = static_cast<uint32_t>(desc.timing.nSectorEraseUs);
    return chip;
}

}  // namespace

CEmulatedDevice::CEmulatedDevice(const DeviceDescription& desc, std::string strFlashPath)
    : m_desc(desc), m_strFlashPath(std::move(strFlashPath)), m_flash(TimedChip(desc)),
      m_realStart(std::chrono::steady_clock::now()), m_faults(desc.faults)
{
    std::vector<uint8_t>& flash = m_flash.MutableContents();
    const bool bLoaded = !m_strFlashPath.empty() && ReadFlashFile(m_strFlashPath, flash);
    if (!bLoaded) {
        MakeInitialFlash(m_desc, flash);
        if (!m_strFlashPath.empty())
            CreateFlashFile(m_strFlashPath, flash);
    }
    m_flash.TakeDirtySectors();
    Boot(0);
}

CEmulatedDevice::~CEmulatedDevice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_flash.Settle(m_now);
    Persist();
}

bool CEmulatedDevice::IsPlugged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bPlugged;
}

void CEmulatedDevice::SetUnplugHandler(std::function<void()> fn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onUnplug = std::move(fn);
}

void CEmulatedDevice::Unplug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bPlugged)
        return;
    const int64_t t = std::min(m_now, m_unplugAt);
    RunWorkBefore(t);
    m_bUnplugNotified = true;  // the file is already gone: nobody needs telling
    PowerCut(t);
}

bool CEmulatedDevice::Replug(const FaultPlan& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bPlugged)
        return false;
    m_desc.faults = faults;
    m_links.clear();
    m_work.clear();
    m_xfer = Transfer{};
    m_engineTime = m_now;
    m_unplugAt = kNever;
    m_bUnplugNotified = false;
    m_bPlugged = true;
    m_faults.Reset(faults);
    m_bHaveLastResponse = false;
    m_nLastStatus = ST_OK;
    Boot(m_now);
    return true;
}

void CEmulatedDevice::Persist()
{
    if (m_strFlashPath.empty())
        return;
    const std::vector<uint32_t> sectors = m_flash.TakeDirtySectors();
    if (!sectors.empty())
        WriteFlashSectors(m_strFlashPath, m_flash.Contents(), sectors);
}

int64_t CEmulatedDevice::NowUs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_now;
}

uint8_t CEmulatedDevice::Mode()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode;
}

std::vector<uint8_t> CEmulatedDevice::FlashContents()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_flash.Settle(m_now);
    return m_flash.Contents();
}

void CEmulatedDevice::SetFlashContents(uint32_t nOffset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t>& data = m_flash.MutableContents();
    if (nOffset > data.size())
        return;
    std::copy_n(bytes.begin(), std::min(bytes.size(), data.size() - nOffset), data.begin() + nOffset);
}

CEmulatedDevice::Stats CEmulatedDevice::GetStats()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Stats s = m_stats;
    s.nFlashBusyUs = m_flash.BusyTimeUs();
    return s;
}
