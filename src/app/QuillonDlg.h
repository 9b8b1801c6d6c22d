// The main window: its state record, its life and its handlers. Handlers of the other parts of the
// system (image loading, reprogramming, hot-plug) are members too and live with their parts.
#pragma once

#include "app/QuillonEnv.h"
#include "base/HeapBlock.h"
#include "config/ChipsetNaming.h"
#include "device/ZelHidApi.h"
#include "platform/Dialog.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class CQuillonDlg : public CDialog {
public:
    explicit CQuillonDlg(CQuillonEnv& env);
    ~CQuillonDlg() override;

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnOK() override;
    void OnCancel() override;
    const MessageMapEntry* GetMessageMap() const override;
    // Commands no table entry takes: the application's Exit and Help, then the framework's defaults.
    intptr_t DefWindowProc(const Message& msg) override;

    // Handlers, in message-table order.
    void OnPaint();
    int OnQueryDragIcon();
    void OnDestroy();
    bool OnDeviceChange(const DeviceNotice& notice);
    void OnAbout();
    void OnOpenImage();
    void OnStart();
    void OnOptions();
    void OnClose();
    void OnTimer(unsigned nIdEvent);
    void ClearTrace();

    CQuillonEnv& Env() { return m_env; }
    const CQuillonEnv& Env() const { return m_env; }
    bool IsWorkerRunning() const { return m_bWorkerRunning.load(); }

    // The state record.
    std::atomic<bool> m_bBusy{false};
    std::atomic<bool> m_bDeviceListStale{false};
    std::atomic<uint32_t> m_nTimerId{0};
    std::atomic<int32_t> m_nProgressPos{0};
    int m_hIcon;
    QString m_strModuleDir;
    QString m_strIniPath;
    // The image's bytes and the tables are heap blocks: the device library borrows the tables.
    CHeapBlock<uint8_t> m_pImageData;
    int32_t m_nImageSize = 0;
    _ZEL_USB_DEV_INFO m_ImageInfo{};
    CHeapBlock<_ZEL_USB_DEV_ID_INFO> m_pKnownIds;
    CHeapBlock<_ZEL_USB_DEV_INFO> m_pDfuPatchInfos;
    std::unique_ptr<NameList> m_pControllerNames;
    std::unique_ptr<NameList> m_pHdCodecNames;
    std::unique_ptr<NameList> m_pIisCodecNames;
    CHeapBlock<_FLASH_INFO> m_pFlashInfo;
    uint32_t m_nMatchPolicy = 0;
    bool m_bAutoVerify = false;
    bool m_hDevNotify = false;  // a notice registration is held
    std::thread m_hWorkerThread;
    int32_t m_nOperation = 0;
    // Written by the selection handler and by the worker's list fix-up, which may run at the same time.
    std::atomic<int32_t> m_bUpdateAll{1};

    // From Start until the worker has ended (Preparing included): no second worker, no end of the window.
    std::atomic<bool> m_bWorkerRunning{false};

private:
    CQuillonEnv& m_env;
};

bool ResolveModuleDirectory(CQuillonDlg* pDlg);
