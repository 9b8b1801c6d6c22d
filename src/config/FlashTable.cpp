// zel.dat beside the executable: read, decrypt, parse into the flash chip table.
#include "config/FlashTable.h"

#include "app/QuillonDlg.h"
#include "platform/FileIo.h"

#include <cstdlib>

bool LoadFlashTable(CQuillonDlg* pDlg)
{
    uint8_t* pBuffer = nullptr;
    const int32_t nLength = ReadWholeFile(pDlg->m_strModuleDir + QStringLiteral("zel.dat"), pBuffer);
    if (nLength == 0)
        return false;
    if (!DecryptFlashTable(pBuffer, nLength)) {
        std::free(pBuffer);
        return false;
    }
    // The two zero bytes after the file's end end the text at the latest.
    int nParsed = 0;
    pDlg->m_pFlashInfo = ParseFlashTableText(reinterpret_cast<const char*>(pBuffer), nParsed);
    std::free(pBuffer);
    return pDlg->m_pFlashInfo != nullptr && nParsed > 0;
}
