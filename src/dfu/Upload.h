// The upload flow: up to 64 KB read from flash offset 0 into a file the operator chooses.
#pragma once

#include <cstdint>

class CQuillonDlg;
class CZelUsbDevice;

// Capacity of the one upload buffer the program has; no more is ever read or written to the file.
constexpr uint32_t kUploadBufferSize = 65536;

void UploadFirmware(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);
