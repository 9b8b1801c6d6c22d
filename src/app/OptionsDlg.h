// The Options dialog: the stored match policy (shown, not changeable) and automatic verification.
#pragma once

#include "platform/Dialog.h"

#include <cstdint>

// Match policy bits, one per identity check of a download.
constexpr uint32_t MATCH_VID = 0x1;
constexpr uint32_t MATCH_PID = 0x2;
constexpr uint32_t MATCH_VERSION = 0x4;
constexpr uint32_t MATCH_SUBVERSION = 0x8;
constexpr uint32_t MATCH_CHIPSET = 0x100;

class COptionsDlg : public CDialog {
public:
    COptionsDlg();
    ~COptionsDlg() override;
    const MessageMapEntry* GetMessageMap() const override;
    void DoDataExchange(CDataExchange& dx) override;

    int32_t m_bMatchVid = 0;
    int32_t m_bMatchPid = 0;
    int32_t m_bMatchVersion = 0;
    int32_t m_bMatchSubVersion = 0;
    int32_t m_bMatchChipset = 0;
    int32_t m_bVerify = 0;
};
