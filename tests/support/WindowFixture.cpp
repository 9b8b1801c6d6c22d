#include "support/WindowFixture.h"

#include "app/WindowConfig.h"
#include "dfu/OperationWorker.h"

#include <QFile>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

std::vector<std::string> MainWindowTest::From(const std::vector<QString>& texts, size_t nBase)
{
    std::vector<std::string> out;
    for (size_t i = nBase; i < texts.size(); ++i)
        out.push_back(texts[i].toStdString());
    return out;
}

bool CTestNotifier::Register(std::function<void(const DeviceNotice&)> sink)
{
    if (pLog != nullptr)
        pLog->push_back("Register");
    if (bRefuse)
        return false;
    std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
    ++nRegistrations;
    return true;
}

void CTestNotifier::Unregister()
{
    if (pLog != nullptr)
        pLog->push_back("Unregister");
    std::lock_guard lock(m_mutex);
    m_sink = nullptr;
    ++nUnregistrations;
}

void CTestNotifier::Notify(unsigned nEvent, const std::u16string& path, unsigned nDeviceType)
{
    std::lock_guard lock(m_mutex);
    if (m_sink)
        m_sink(DeviceNotice{nEvent, true, nDeviceType, path});
}

void CTestNotifier::NotifyWithoutRecord(unsigned nEvent)
{
    std::lock_guard lock(m_mutex);
    if (m_sink)
        m_sink(DeviceNotice{nEvent});
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
    SetText(text);
}

void CIniProfile::SetInt(const QString& section, const QString& key, int64_t value)
{
    Set(section, key, QStringLiteral("0x%1").arg(static_cast<quint32>(value), 0, 16));
}

MainWindowTest::MainWindowTest()
{
    env.strExecutablePath = QString::fromUtf8(kModuleDir) + QStringLiteral("Quillon");
    env.strAppTitle = QStringLiteral("Quillon");
    env.pProfile = &profile;
    env.pPrefs = &prefs;
    env.pClock = &clock;
    env.pNotifier = &notifier;
    session.SetCaption(env.strAppTitle);
}

MainWindowTest::~MainWindowTest()
{
    Close();
    g_pFlashInfo = nullptr;
    g_pKnownIDs_NormalMode = nullptr;
    g_pKnownDfuPatchInfos = nullptr;
}

void MainWindowTest::UseExampleIni()
{
    QFile file(QStringLiteral(QUILLON_SOURCE_DIR "/examples/Quillon.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    profile.SetText(file.readAll());
}

void MainWindowTest::Open()
{
    dlg = std::make_unique<CQuillonDlg>(env);
    host = std::make_unique<CConsoleHost>(session, *dlg);
    host->Create();
}

std::vector<CZelUsbDevice*> MainWindowTest::Listed()
{
    std::vector<CZelUsbDevice*> devices;
    for (const auto& item : host->ComboItems(IDC_DEVICE_COMBO))
        devices.push_back(static_cast<CZelUsbDevice*>(item.pData));
    return devices;
}

std::vector<std::string> MainWindowTest::ListTexts()
{
    std::vector<std::string> texts;
    for (const auto& item : host->ComboItems(IDC_DEVICE_COMBO))
        texts.push_back(item.text.toStdString());
    return texts;
}

CFakeZelUsbDevice* MainWindowTest::PlugExample(const ExampleDevice& example, std::u16string path, bool bListed)
{
    CFakeZelUsbDevice* pDevice = bListed ? backend.Plug(std::move(path)) : backend.Offer(std::move(path));
    pDevice->nVendorId = example.nVendorId;
    pDevice->nProductId = example.nProductId;
    pDevice->nVersion = example.nVersion;
    pDevice->nSubVersion = example.nSubVersion;
    pDevice->nChipsetType = example.nChipsetType;
    pDevice->bBootLoader = example.bBootLoader;
    pDevice->strProduct = example.pszProduct;
    return pDevice;
}

void DfuTest::SetUp()
{
    env.pNotifier = nullptr;
    Open();
    ForgetRecords();
    backend.log.clear();  // the window's own first enumeration
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
    Close();
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

void DfuTest::LoadImage(int32_t nSize, int32_t nFlagAt)
{
    auto* pData = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(nSize) + 2, 1));
    const std::vector<uint8_t> bytes = Pattern(0, static_cast<uint32_t>(nSize));
    std::memcpy(pData, bytes.data(), bytes.size());
    if (nFlagAt >= 0 && nFlagAt + 1 < nSize)
        pData[nFlagAt] = pData[nFlagAt + 1] = 0xAA;
    dlg->m_pImageData.reset(pData);
    dlg->m_nImageSize = nSize;
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
    return ::testing::TempDir() + "quillon-" + std::to_string(::getpid()) + "-" + name;
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
