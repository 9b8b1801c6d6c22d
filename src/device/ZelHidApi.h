// The device access library's contract: the records it is fed, the device object, the enumeration
// and release calls and the three table globals.
//
// Return conventions, for every call below:
//   - bool results: true is success, false is failure; no call throws.
//   - Pointers returned by the library (devices, the enumeration array, strings) belong to the
//     library. They stay valid until the device is released (ReleaseZelUsbDevice by object or
//     path, or ReleaseZelUsbDevices); the program never frees them.
//   - Strings are zero-terminated UTF-16; GetProductString may return null.
//   - Every call may come from the user-interface thread or the worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#pragma pack(push, 1)

// KnownIdTable record: a device served in normal mode. dwUsage is (usage page << 16 | usage) of the
// HID interface that carries the DFU protocol, or 0 for any interface of that device.
struct _ZEL_USB_DEV_ID_INFO {
    uint16_t wVendorId;
    uint16_t wProductId;
    uint32_t dwUsage;
};

// DeviceInfoRecord: a device identity, as read from an image or held in the DFU patch table.
struct _ZEL_USB_DEV_INFO {
    uint16_t wVendorId;
    uint16_t wProductId;
    uint32_t dwVersion;  // low 16 bits are shown and compared
    uint32_t dwSubVersion;
    uint8_t byChip[2];      // first and second chip byte
    uint8_t byReserved[6];  // carried, never read
};

// FlashInfoTable record. Numbers 1 to 3 are stored most significant byte first.
struct _FLASH_INFO {
    char szName[256];
    uint8_t byJedecId[4];     // number 1: JEDEC ID
    uint8_t byCapacityKb[2];  // number 2: capacity in KiB
    uint8_t bySectorSize[2];  // number 3: sector size in bytes
    uint8_t byAddressBytes;   // number 4
    uint8_t byOpcodes[18];    // numbers 5 to 22: the chip's command opcodes
};

#pragma pack(pop)

static_assert(sizeof(_ZEL_USB_DEV_ID_INFO) == 8, "KnownIdTable record is 8 bytes");
static_assert(sizeof(_ZEL_USB_DEV_INFO) == 20, "DeviceInfoRecord is 20 bytes");
static_assert(sizeof(_FLASH_INFO) == 283, "FlashInfoTable record is 283 bytes");

// One served HID interface of a device. Queries first, then the operations in their fixed order.
class CZelUsbDevice {
public:
    virtual ~CZelUsbDevice() = default;

    virtual uint16_t GetVendorID() = 0;
    virtual uint16_t GetProductID() = 0;
    virtual uint16_t GetVersion() = 0;
    virtual uint32_t GetSubVersion() = 0;
    virtual uint16_t GetChipsetType() = 0;           // 0: none reported
    virtual const char16_t* GetProductString() = 0;  // null when the device has none
    virtual const char16_t* GetDevicePath() = 0;     // interface path, never null
    virtual bool IsHidDfuSupported() = 0;
    virtual bool IsHidDfuBootLoaderSupported() = 0;
    virtual bool IsDeviceAvailable() = 0;  // still present and usable

    // True when the boot loader is in DFU mode.
    virtual bool SwitchToDfuMode() = 0;
    // Sends a whole DFU patch file; true when the device is in DFU mode. The caller keeps the bytes.
    virtual bool LoadDfuPatch(const uint8_t* pData, uint32_t nLength) = 0;
    // True when the device is back in normal mode.
    virtual bool SwitchToNormalMode() = 0;
    // Identifies the flash chip against g_pFlashInfo; only called while that is set.
    virtual bool DetectFlash() = 0;
    // Asked after a failed write or read; true: call DetectFlash again.
    virtual bool IsFlashRedetectNeeded() = 0;
    virtual uint16_t GetDefaultSerialNumberAddr() = 0;
    // Writes nLength bytes at flash offset nOffset, keeping every byte outside the range.
    virtual bool WriteFlash(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) = 0;
    // As WriteFlash, for the closing flag word: programs without an erase.
    virtual bool WriteFlashFlag(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) = 0;
    // nLength in: capacity of pBuffer; out: bytes delivered (never more than the capacity).
    virtual bool ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer) = 0;
};

// Result of an enumeration; valid until the next enumeration or release.
struct ZEL_USB_DEVICE_ARRAY {
    uint32_t nCount;
    CZelUsbDevice** ppDevices;
};

// Tables handed over at start-up (null when absent). Borrowed: the program owns them and they
// outlive ReleaseZelUsbDevices.
extern const _FLASH_INFO* g_pFlashInfo;
extern const _ZEL_USB_DEV_ID_INFO* g_pKnownIDs_NormalMode;
extern const _ZEL_USB_DEV_INFO* g_pKnownDfuPatchInfos;

// bRescan true and a null path: enumerate every served interface. Null or a count of 0: none.
const ZEL_USB_DEVICE_ARRAY* EnumZelUsbDevices(bool bRescan, const char16_t* pszPath);
// The device at an arrived interface path, or null when the library does not serve it.
CZelUsbDevice* AddZelUsbDevice(const char16_t* pszPath);
// Frees the device object(s). Releasing an unheld path or a null object is no error.
void ReleaseZelUsbDevice(CZelUsbDevice* pDevice);
void ReleaseZelUsbDevice(const char16_t* pszPath);
// Frees every device object (shutdown).
void ReleaseZelUsbDevices();

// Why the device's most recent failed call failed, in words for a person: the exchange and its cause
// ("write at 0x3000: CRC mismatch", "read at 0x0: no answer within 2000 ms") or "device unplugged".
// Empty when none of its calls has failed since it was made or since ZelUsbDeviceClearLastError, for a
// null device, and for a device object the library did not hand out. A successful call leaves the text
// as it was. Safe from any thread.
std::string ZelUsbDeviceLastError(CZelUsbDevice* pDevice);
// Forgets the text, so that what follows it is about the calls made from now on.
void ZelUsbDeviceClearLastError(CZelUsbDevice* pDevice);

// The library serves its calls through one backend at a time: the HID library over real
// devices or the emulator, or a test double. The program selects it once before start-up.
class IZelHidBackend {
public:
    virtual ~IZelHidBackend() = default;
    virtual const ZEL_USB_DEVICE_ARRAY* Enumerate(bool bRescan, const char16_t* pszPath) = 0;
    virtual CZelUsbDevice* Add(const char16_t* pszPath) = 0;
    virtual void Release(CZelUsbDevice* pDevice) = 0;
    virtual void Release(const char16_t* pszPath) = 0;
    virtual void ReleaseAll() = 0;
    // ZelUsbDeviceLastError and ZelUsbDeviceClearLastError for the backend's own devices.
    virtual std::string LastError(CZelUsbDevice* /*pDevice*/) { return {}; }
    virtual void ClearLastError(CZelUsbDevice* /*pDevice*/) {}
    // See ZelUsbDeviceSerialNumber and ZelUsbDeviceHeldBy below.
    virtual const char16_t* SerialNumber(CZelUsbDevice*) { return nullptr; }
    virtual int HeldBy(CZelUsbDevice*) { return 0; }
};

// Selects the backend; null restores "no backend", under which enumeration finds nothing.
// Not owned. Returns the previous backend.
IZelHidBackend* SetZelHidBackend(IZelHidBackend* pBackend);

// Beyond the window's contract, for front ends that run many devices at once (quillon-cli).
// The device's USB serial number; null when it has none or the library does not know it.
const char16_t* ZelUsbDeviceSerialNumber(CZelUsbDevice* pDevice);
// Whether another program holds the device now (one program per device, docs/device-library.md): 0 when
// this program may use it, else that program's process id, or -1 when its id cannot be had.
int ZelUsbDeviceHeldBy(CZelUsbDevice* pDevice);

// While one lives on a thread, a long read of that thread's device calls (ReadFlash) reports the bytes
// received so far, also inside one transfer, so that the caller can show progress while it waits; the
// contract's calls keep their signatures. Scopes nest: the innermost one is told.
class CReadProgressScope {
public:
    using Callback = void (*)(void* pContext, uint64_t nDone, uint64_t nTotal);
    CReadProgressScope(Callback pCallback, void* pContext);
    ~CReadProgressScope();
    CReadProgressScope(const CReadProgressScope&) = delete;
    CReadProgressScope& operator=(const CReadProgressScope&) = delete;

    // Called by the device library: tells this thread's innermost scope, if there is one.
    static void Report(uint64_t nDone, uint64_t nTotal);

private:
    Callback m_pCallback;
    void* m_pContext;
    CReadProgressScope* m_pOuter;
};
