#include "app/IdentityText.h"
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "app/Trace.h"
#include "image/ZelFirmwareApi.h"
#include "platform/FileIo.h"
#include "platform/NativePath.h"

// Runs on the window's thread (menu) or the worker's (a download without loaded bytes). A refused file
// changes nothing; an accepted file whose bytes cannot be read keeps its identity but loads no bytes.
void CQuillonDlg::OnOpenImage()
{
    IDialogHost* pHost = Host();
    FileDialogRequest request;
    request.strFilter = QStringLiteral("DFU Files (*.bin)|*.bin|All Files (*.*)|*.*||");
    request.bOverwritePrompt = true;
    request.bHideReadOnly = true;
    QString path;
    if (!pHost->GetOpenFileName(request, path))
        return;

    CZelFirmwareImage image(std::filesystem::path(PathToNative(path).toStdString()));
    _ZEL_USB_DEV_INFO info{};
    const bool bIdentified = image.ParseImageInfo(&info);
    if (!bIdentified && m_nMatchPolicy != 0) {
        pHost->MessageBox(QStringLiteral("Incorrect image file, no useful information found!"));
        return;
    }

    m_ImageInfo = info;
    pHost->SetDlgItemText(IDC_IMG_FILE, path);
    pHost->SetDlgItemText(IDC_IMG_VID, Hex4(info.wVendorId));
    pHost->SetDlgItemText(IDC_IMG_PID, Hex4(info.wProductId));
    pHost->SetDlgItemText(IDC_IMG_VERSION, Hex4(info.dwVersion));
    pHost->SetDlgItemText(IDC_IMG_SUBVERSION, Hex8(info.dwSubVersion));
    pHost->SetDlgItemText(IDC_IMG_CHIPSET, pHost->GetDlgItemText(IDC_DEV_CHIPSET));

    m_pImageData.reset();
    uint8_t* pData = nullptr;
    m_nImageSize = ReadWholeFile(path, pData);
    m_pImageData.reset(pData);
    if (m_nImageSize > 0)
        AppendTrace(this, QStringLiteral("Open DFU file %1 succeeded\r\n").arg(path));
    else
        pHost->MessageBox(QStringLiteral("Read DFU file failed!"));
}
