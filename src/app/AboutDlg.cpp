#include "app/AboutDlg.h"

#include "app/Resources.h"

namespace {

const MessageMapEntry kAboutMessageMap[] = {
    {MessageKind::Command, 0, 0, nullptr},
};

}  // namespace

CAboutDlg::CAboutDlg() : CDialog(AboutDialogTemplate()) {}

CAboutDlg::~CAboutDlg() = default;

const MessageMapEntry* CAboutDlg::GetMessageMap() const
{
    return kAboutMessageMap;
}
