#include "app/MainWindowFixture.h"

#include "app/Resource.h"

#include <QFile>

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
    DeviceNotice notice;
    notice.nEvent = nEvent;
    notice.bHasRecord = true;
    notice.nDeviceType = nDeviceType;
    notice.strPath = path;
    std::lock_guard lock(m_mutex);
    if (m_sink)
        m_sink(notice);
}

void CTestNotifier::NotifyWithoutRecord(unsigned nEvent)
{
    DeviceNotice notice;
    notice.nEvent = nEvent;
    std::lock_guard lock(m_mutex);
    if (m_sink)
        m_sink(notice);
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
    profile.SetFile(QString::fromUtf8(kModuleDir) + QStringLiteral("Quillon.ini"), file.readAll());
}

void MainWindowTest::SetIni(const std::string& text)
{
    profile.SetFile(QString::fromUtf8(kModuleDir) + QStringLiteral("Quillon.ini"), QByteArray::fromStdString(text));
}

void MainWindowTest::Open()
{
    m_pDlg = std::make_unique<CQuillonDlg>(env);
    m_pHost = std::make_unique<CConsoleHost>(session, *m_pDlg);
    m_pHost->Create();
}

void MainWindowTest::Close()
{
    if (m_pHost)
        m_pHost->Destroy();
    m_pHost.reset();
    m_pDlg.reset();
}

void MainWindowTest::Arrive(const std::u16string& path)
{
    notifier.Notify(DBT_DEVICEARRIVAL, path);
    m_pHost->PumpMessages();
}

void MainWindowTest::Remove(const std::u16string& path)
{
    notifier.Notify(DBT_DEVICEREMOVECOMPLETE, path);
    m_pHost->PumpMessages();
}

std::vector<CZelUsbDevice*> MainWindowTest::Listed()
{
    std::vector<CZelUsbDevice*> devices;
    for (const auto& item : m_pHost->ComboItems(IDC_DEVICE_COMBO))
        devices.push_back(static_cast<CZelUsbDevice*>(item.pData));
    return devices;
}

std::vector<QString> MainWindowTest::ListedTexts()
{
    std::vector<QString> texts;
    for (const auto& item : m_pHost->ComboItems(IDC_DEVICE_COMBO))
        texts.push_back(item.text);
    return texts;
}

QString MainWindowTest::TraceText()
{
    return m_pHost->GetDlgItemText(IDC_TRACE);
}

CFakeZelUsbDevice* PlugZa1200(CFakeZelHidBackend& backend, std::u16string path, bool bListOnly)
{
    CFakeZelUsbDevice* pDevice = bListOnly ? backend.Plug(std::move(path)) : backend.Offer(std::move(path));
    pDevice->nVendorId = 0x2fe3;
    pDevice->nProductId = 0x1200;
    pDevice->nVersion = 0x0105;
    pDevice->nSubVersion = 0x12000134;
    pDevice->nChipsetType = 0x0001;
    pDevice->strProduct = u"ZEL ZA1200 Audio";
    return pDevice;
}
