#include "dfu/DfuTestSupport.h"

#include "app/Resource.h"
#include "app/WindowConfig.h"
#include "dfu/OperationWorker.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

std::vector<std::string> From(const std::vector<QString>& texts, size_t nBase)
{
    std::vector<std::string> out;
    for (size_t i = nBase; i < texts.size(); ++i)
        out.push_back(texts[i].toStdString());
    return out;
}

}  // namespace

void CIniProfile::Set(const QString& section, const QString& key, const QString& value)
{
    m_sections[section][key] = value;
    QByteArray text;
    for (const auto& [name, values] : m_sections) {
        text += "[" + name.toUtf8() + "]\r\n";
        for (const auto& [k, v] : values)
            text += k.toUtf8() + "=" + v.toUtf8() + "\r\n";
    }
    SetFile(m_path, text);
}

void CIniProfile::SetInt(const QString& section, const QString& key, int64_t value)
{
    Set(section, key, QStringLiteral("0x%1").arg(static_cast<quint32>(value), 0, 16));
}

void CGate::Arrive()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bArrived = true;
    m_cv.notify_all();
    m_cv.wait(lock, [this] { return m_bOpen; });
}

void CGate::WaitArrived()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_bArrived; });
}

void CGate::Open()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bOpen = true;
    m_cv.notify_all();
}

std::vector<uint8_t> Pattern(uint32_t nOffset, uint32_t nLength)
{
    std::vector<uint8_t> bytes(nLength);
    for (uint32_t i = 0; i < nLength; ++i) {
        const uint32_t n = nOffset + i;
        const auto b = static_cast<uint8_t>((n * 7u) ^ (n >> 8) ^ (n >> 12));
        bytes[i] = b == 0xAA ? 0x5A : b;
    }
    return bytes;
}

std::string TempPath(const std::string& name)
{
    const char* pszDir = std::getenv("TMPDIR");
    return std::string(pszDir != nullptr && *pszDir != 0 ? pszDir : "/tmp") + "/quillon-dfu-" +
           std::to_string(::getpid()) + "-" + name;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void DfuTest::SetUp()
{
    env.strExecutablePath = QStringLiteral("/nonexistent/Quillon");   // beside the profile
    env.strAppTitle = QStringLiteral("Quillon");
    env.pProfile = &profile;
    env.pClock = &clock;
    dlg = std::make_unique<CQuillonDlg>(env);
    host = std::make_unique<CConsoleHost>(session, *dlg);
    host->Create();
    ForgetRecords();
    backend.log.clear();   // the window's own first enumeration
    host->SetCheck(IDC_DOWNLOAD, 1);
    host->SetCheck(IDC_UPDATE_ALL, 1);
}

void DfuTest::TearDown()
{
    for (CGate& gate : gates)
        gate.Open();
    if (dlg->m_hWorkerThread.joinable())
        dlg->m_hWorkerThread.join();
    g_pFlashInfo = nullptr;
    host.reset();
    dlg.reset();
}

CFakeZelUsbDevice* DfuTest::AddListedDevice(const std::u16string& path)
{
    CFakeZelUsbDevice* pDevice = backend.Plug(path);
    ListDevice(pDevice, QString::fromStdU16String(pDevice->strProduct));
    return pDevice;
}

void DfuTest::ListDevice(CZelUsbDevice* pDevice, const QString& text)
{
    const int nIndex = host->ComboAddString(IDC_DEVICE_COMBO, text);
    host->ComboSetItemData(IDC_DEVICE_COMBO, nIndex, pDevice);
    host->ComboSetCurSel(IDC_DEVICE_COMBO, nIndex);
}

std::vector<std::string> DfuTest::ListTexts()
{
    std::vector<std::string> out;
    for (const auto& item : host->ComboItems(IDC_DEVICE_COMBO))
        out.push_back(item.text.toStdString());
    return out;
}

std::vector<std::string> DfuTest::Traces()
{
    return From(session.TraceTexts(), m_nTraceBase);
}

std::vector<std::string> DfuTest::Boxes()
{
    return From(session.MessageBoxes(), m_nBoxBase);
}

size_t DfuTest::CountBoxes(const std::string& text)
{
    const auto boxes = Boxes();
    return static_cast<size_t>(std::count(boxes.begin(), boxes.end(), text));
}

void DfuTest::ForgetRecords()
{
    m_nTraceBase = session.TraceTexts().size();
    m_nBoxBase = session.MessageBoxes().size();
}

void DfuTest::LoadImage(int32_t nSize, int32_t nFlagAt)
{
    std::vector<uint8_t> bytes = Pattern(0, static_cast<uint32_t>(nSize));
    if (nFlagAt >= 0 && nFlagAt + 1 < nSize)
        bytes[static_cast<size_t>(nFlagAt)] = bytes[static_cast<size_t>(nFlagAt) + 1] = 0xAA;
    auto* pData = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(nSize) + 2, 1));
    std::memcpy(pData, bytes.data(), bytes.size());
    dlg->m_pImageData.reset(pData);
    dlg->m_nImageSize = nSize;
}

std::vector<uint8_t> DfuTest::ImageBytes(uint32_t nOffset, uint32_t nLength) const
{
    return std::vector<uint8_t>(dlg->m_pImageData + nOffset, dlg->m_pImageData + nOffset + nLength);
}

void DfuTest::SetControllerNames(const std::vector<QString>& names)
{
    profile.SetInt("ChipsetInfo", "ControllerNum", static_cast<int64_t>(names.size()));
    for (size_t i = 0; i < names.size(); ++i)
        profile.Set("ChipsetInfo", QString("ControllerName%1").arg(i), names[i]);
    dlg->m_pControllerNames = LoadNameList(dlg.get(), NAME_CONTROLLER);
}

void DfuTest::RunWorker()
{
    dlg->m_bWorkerRunning = true;
    OperationThreadProc(dlg.get());
}

size_t DfuTest::CountLog(const std::string& entry)
{
    return static_cast<size_t>(std::count(backend.log.begin(), backend.log.end(), entry));
}
