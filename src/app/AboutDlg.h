// The About box: the program's name, version and maker.
#pragma once

#include "platform/Dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;
    const MessageMapEntry* GetMessageMap() const override;
};
