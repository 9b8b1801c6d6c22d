#include "dfu/DfuTestSupport.h"

#include "app/Resource.h"
#include "config/ChipsetNaming.h"
#include "dfu/OperationWorker.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

// The host keeps its own copies: a text shared with the caller's thread would be released by Qt's
// uninstrumented code, which the thread checker cannot see.
QString Own(const QString& text)
{
    return QString(text.constData(), text.size());
}

}  // namespace

using Lock = std::lock_guard<std::recursive_mutex>;

void CRecordingHost::Log(const std::string& line)
{
    Lock lock(m_mutex);
    m_events.push_back(line);
}

std::vector<std::string> CRecordingHost::Events()
{
    Lock lock(m_mutex);
    return m_events;
}

std::vector<std::string> CRecordingHost::EventsWith(const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& e : Events()) {
        if (e.compare(0, prefix.size(), prefix) == 0)
            out.push_back(e.substr(prefix.size()));
    }
    return out;
}

size_t CRecordingHost::Count(const std::string& event)
{
    const auto events = Events();
    return static_cast<size_t>(std::count(events.begin(), events.end(), event));
}

size_t CRecordingHost::IndexOf(const std::string& event)
{
    const auto events = Events();
    return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

void CRecordingHost::ClearEvents()
{
    Lock lock(m_mutex);
    m_events.clear();
}

void CRecordingHost::AddDevice(CZelUsbDevice* pDevice, const QString& text)
{
    Lock lock(m_mutex);
    m_entries.push_back({Own(text), pDevice});
    m_nCurSel = static_cast<int>(m_entries.size()) - 1;
}

void CRecordingHost::SetDlgItemText(int nId, const QString& text)
{
    Lock lock(m_mutex);
    m_texts[nId] = Own(text);
}

QString CRecordingHost::GetDlgItemText(int nId)
{
    Lock lock(m_mutex);
    return Own(m_texts[nId]);
}

void CRecordingHost::EnableDlgItem(int nId, bool bEnable)
{
    Lock lock(m_mutex);
    m_enabled[nId] = bEnable;
    Log("enable:" + std::to_string(nId) + "=" + (bEnable ? "1" : "0"));
}

bool CRecordingHost::IsDlgItemEnabled(int nId)
{
    Lock lock(m_mutex);
    return !m_enabled.count(nId) || m_enabled[nId];
}

int CRecordingHost::GetCheck(int nId)
{
    Lock lock(m_mutex);
    return m_checks[nId];
}

void CRecordingHost::SetCheck(int nId, int nCheck)
{
    Lock lock(m_mutex);
    m_checks[nId] = nCheck;
}

int CRecordingHost::ComboGetCount(int)
{
    Lock lock(m_mutex);
    return static_cast<int>(m_entries.size());
}

int CRecordingHost::ComboAddString(int nId, const QString& text)
{
    return ComboInsertString(nId, -1, text);
}

int CRecordingHost::ComboInsertString(int, int nIndex, const QString& text)
{
    Lock lock(m_mutex);
    if (nIndex < 0) {
        Log("combo-add:" + text.toStdString());
        nIndex = static_cast<int>(m_entries.size());
    } else {
        Log("combo-insert:" + std::to_string(nIndex) + ":" + text.toStdString());
        nIndex = std::min(nIndex, static_cast<int>(m_entries.size()));
    }
    m_entries.insert(m_entries.begin() + nIndex, Entry{Own(text), nullptr});
    if (m_nCurSel >= nIndex)
        ++m_nCurSel;
    return nIndex;
}

void CRecordingHost::ComboDeleteString(int, int nIndex)
{
    Lock lock(m_mutex);
    Log("combo-delete:" + std::to_string(nIndex));
    if (!Valid(nIndex))
        return;
    m_entries.erase(m_entries.begin() + nIndex);
    m_nCurSel = m_nCurSel == nIndex ? -1 : m_nCurSel - (m_nCurSel > nIndex);
}

void CRecordingHost::ComboResetContent(int)
{
    Lock lock(m_mutex);
    m_entries.clear();
    m_nCurSel = -1;
    Log("combo-reset");
}

void CRecordingHost::ComboSetItemData(int, int nIndex, void* pData)
{
    Lock lock(m_mutex);
    if (Valid(nIndex))
        m_entries[static_cast<size_t>(nIndex)].pData = pData;
}

void* CRecordingHost::ComboGetItemData(int, int nIndex)
{
    Lock lock(m_mutex);
    return Valid(nIndex) ? m_entries[static_cast<size_t>(nIndex)].pData : nullptr;
}

QString CRecordingHost::ComboGetText(int, int nIndex)
{
    Lock lock(m_mutex);
    return Valid(nIndex) ? Own(m_entries[static_cast<size_t>(nIndex)].text) : QString();
}

int CRecordingHost::ComboGetCurSel(int)
{
    Lock lock(m_mutex);
    return m_nCurSel;
}

void CRecordingHost::ComboSetCurSel(int, int nIndex)
{
    Lock lock(m_mutex);
    m_nCurSel = Valid(nIndex) ? nIndex : -1;
    Log("combo-sel:" + std::to_string(nIndex));
}

void CRecordingHost::EditAppendText(int, const QString& text)
{
    Log("trace:" + text.toStdString());
}

void CRecordingHost::ProgressSetPos(int, int nPos)
{
    Lock lock(m_mutex);
    m_nProgressPos = nPos;
}

int CRecordingHost::ProgressGetPos(int)
{
    Lock lock(m_mutex);
    return m_nProgressPos;
}

void CRecordingHost::EnableMenuItem(int nCommand, bool bEnable)
{
    Lock lock(m_mutex);
    m_menu[nCommand] = bEnable;
}

bool CRecordingHost::IsMenuItemEnabled(int nCommand)
{
    Lock lock(m_mutex);
    return !m_menu.count(nCommand) || m_menu[nCommand];
}

uint32_t CRecordingHost::SetTimer(uint32_t nIdEvent, uint32_t nElapseMs)
{
    Lock lock(m_mutex);
    bTimerRunning = true;
    Log("settimer:" + std::to_string(nIdEvent) + "," + std::to_string(nElapseMs));
    return nIdEvent;
}

void CRecordingHost::KillTimer(uint32_t nIdEvent)
{
    Lock lock(m_mutex);
    bTimerRunning = false;
    Log("killtimer:" + std::to_string(nIdEvent));
}

void CRecordingHost::MessageBox(const QString& text)
{
    Log("box:" + text.toStdString());
    std::function<void(const QString&)> hook;
    {
        Lock lock(m_mutex);
        hook = onMessageBox;
    }
    if (hook)
        hook(text);
}

bool CRecordingHost::Answer(std::deque<std::pair<bool, QString>>& answers, QString& path)
{
    if (answers.empty())
        return false;
    path = answers.front().second;
    const bool bAccepted = answers.front().first;
    answers.pop_front();
    return bAccepted;
}

bool CRecordingHost::GetOpenFileName(const FileDialogRequest&, QString& path)
{
    Lock lock(m_mutex);
    Log("open-dialog");
    return Answer(openAnswers, path);
}

bool CRecordingHost::GetSaveFileName(const FileDialogRequest& request, QString& path)
{
    Lock lock(m_mutex);
    Log("save-dialog");
    saveRequests.push_back(request);
    return Answer(saveAnswers, path);
}

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
    env.strAppTitle = QStringLiteral("Quillon");
    env.pProfile = &profile;
    env.pClock = &clock;
    dlg = std::make_unique<CQuillonDlg>(env);
    dlg->AttachHost(&host);
    dlg->m_strIniPath = profile.Path();
    host.SetCheck(IDC_DOWNLOAD, 1);
    host.SetCheck(IDC_UPDATE_ALL, 1);
}

void DfuTest::TearDown()
{
    for (CGate& gate : gates)
        gate.Open();
    if (dlg->m_hWorkerThread.joinable())
        dlg->m_hWorkerThread.join();
    std::free(dlg->m_pImageData);
    dlg->m_pImageData = nullptr;
    dlg->m_pFlashInfo = nullptr;
    g_pFlashInfo = nullptr;
    dlg->AttachHost(nullptr);
    dlg.reset();
}

CFakeZelUsbDevice* DfuTest::AddListedDevice(const std::u16string& path)
{
    CFakeZelUsbDevice* pDevice = backend.Plug(path);
    host.AddDevice(pDevice, QString::fromStdU16String(pDevice->strProduct));
    return pDevice;
}

void DfuTest::LoadImage(int32_t nSize, int32_t nFlagAt)
{
    std::free(dlg->m_pImageData);
    std::vector<uint8_t> bytes = Pattern(0, static_cast<uint32_t>(nSize));
    if (nFlagAt >= 0 && nFlagAt + 1 < nSize)
        bytes[static_cast<size_t>(nFlagAt)] = bytes[static_cast<size_t>(nFlagAt) + 1] = 0xAA;
    auto* pData = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(nSize) + 2, 1));
    std::memcpy(pData, bytes.data(), bytes.size());
    dlg->m_pImageData = pData;
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
    if (dlg->m_pControllerNames != nullptr)
        FreeNameList(dlg->m_pControllerNames);
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
