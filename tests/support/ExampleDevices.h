// The example devices of examples/sim as Quillon.ini and the example images treat them: the one place
// the tests take their identities from.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

struct ExampleDevice {
    const char* pszStem;  // examples/sim/<stem>.json
    const char16_t* pszProduct;
    uint16_t nVendorId, nProductId, nVersion;  // the version as the running firmware reports it
    uint32_t nSubVersion;
    uint16_t nChipsetType, nSerialAddr;
    bool bBootLoader;
    const char* pszChipset;  // the name the window shows
    bool bUpdateAllOptional;
    const char* pszImage;       // examples/images/...
    const char* pszNewVersion;  // what the device reports after a download of that image
    uint32_t nBlockMask;        // the blocks written with "Update All" set where it is optional
    int32_t nFlagOffset;

    std::string Product() const
    {
        return std::string(pszProduct, pszProduct + std::char_traits<char16_t>::length(pszProduct));
    }
};

inline constexpr ExampleDevice kExampleDevices[] = {
    {"za1200", u"ZEL ZA1200 Audio", 0x2fe3, 0x1200, 0x0105, 0x12000134, 0x0001, 0x4000, true, "ZA1200+ZH880", true,
     "za1200-fw-0106.bin", "0x0106", 0xFFFFFFEF, 0x3000},
    {"za2400", u"ZEL ZA2400 Audio", 0x2fe3, 0x2400, 0x0000, 0x24000007, 0x0180, 0x8000, true, "ZA2400+ZI4344", true,
     "za2400-fw-0211.bin", "0x0211", 0xFFDF, 0x3000},  // in recovery: version 0
    {"za3600", u"ZEL ZA3600 Audio", 0x2fe3, 0x3600, 0x0300, 0x36000021, 0x0000, 0x0000, true, "ZA3600+ZH892", false,
     "za3600-fw-0301.bin", "0x0301", 0xFFFF, 0x2000},
    {"za4800", u"ZEL ZA4800 Audio", 0x2fe4, 0x4800, 0x0100, 0x48000010, 0x0381, 0x4000, false, "ZA4800+ZI5102", false,
     "za4800-fw-0101.bin", "0x0101", 0xFFEE, 0x3000},
};
inline constexpr const ExampleDevice& kZa1200 = kExampleDevices[0];
inline constexpr const ExampleDevice& kZa2400 = kExampleDevices[1];

inline void PrintTo(const ExampleDevice& device, std::ostream* os)
{
    *os << device.pszStem;
}
