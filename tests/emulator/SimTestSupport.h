// Helpers of the device and emulator tests: a private copy of the example device folder, the
// tables the program would hand over, and device files written on the spot.
#pragma once

#include "device/ZelHidApi.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace simtest {

inline std::string ExamplesSimDir()
{
    return std::string(QUILLON_SOURCE_DIR) + "/examples/sim";
}

// A DFU patch file as the build makes it beside the programs.
inline std::vector<uint8_t> BuiltPatch(const std::string& controller)
{
    std::ifstream in(std::string(QUILLON_BINARY_DIR) + "/bin/" + controller + ".bin", std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A temporary folder, optionally holding a copy of examples/sim; removed with everything in it.
class CTempSimDir {
public:
    explicit CTempSimDir(bool bCopyExamples = true)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-sim-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
        if (bCopyExamples && !m_path.empty())
            for (const auto& entry : std::filesystem::directory_iterator(ExamplesSimDir()))
                if (entry.path().extension() == ".json")
                    std::filesystem::copy_file(entry.path(), std::filesystem::path(m_path) / entry.path().filename());
    }
    ~CTempSimDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTempSimDir(const CTempSimDir&) = delete;
    CTempSimDir& operator=(const CTempSimDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    bool Exists(const std::string& name) const { return std::filesystem::exists(File(name)); }
    void Write(const std::string& name, const std::string& text) const
    {
        // Written beside and moved in, as a file manager does, so that no reader sees half a file.
        const std::string temp = File("." + name + ".tmp");
        std::ofstream(temp, std::ios::binary) << text;
        std::filesystem::rename(temp, File(name));
    }
    void Remove(const std::string& name) const { std::filesystem::remove(File(name)); }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(File(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // An example device file with some keys replaced or added.
    void WriteVariant(const std::string& example, const std::string& name, const nlohmann::json& changes) const
    {
        std::ifstream in(ExamplesSimDir() + "/" + example);
        nlohmann::json j = nlohmann::json::parse(in);
        j.merge_patch(changes);
        Write(name, j.dump(2));
    }

private:
    std::string m_path;
};

// The tables of examples/Quillon.ini and a flash table with the example chips, installed into the
// library's globals for the lifetime of the object.
class CTestTables {
public:
    CTestTables()
    {
        known = {{0x2fe3, 0x1200, 0xff000001}, {0x2fe3, 0x2400, 0xff000001}, {0x2fe3, 0x3600, 0},
                 {0x2fe4, 0x4800, 0xff000001}, {0x2fe4, 0x4801, 0xff000001}, {0, 0, 0}};
        patches = {{0x2fe4, 0x4800, 0x0100, 0x48000000, {0x03, 0x81}, {}},
                   {0x2fe4, 0x4801, 0x0100, 0x48010000, {0x03, 0x82}, {}},
                   _ZEL_USB_DEV_INFO{}};
        flash = {Chip("Winbond W25Q80DV", 0xEF4014, 0x0400), Chip("Macronix MX25L1606E", 0xC22015, 0x0800),
                 Chip("GigaDevice GD25Q32C", 0xC84016, 0x1000), Chip("Winbond W25Q16JV", 0xEF4015, 0x0800),
                 _FLASH_INFO{}};
        g_pKnownIDs_NormalMode = known.data();
        g_pKnownDfuPatchInfos = patches.data();
        g_pFlashInfo = flash.data();
    }
    ~CTestTables()
    {
        g_pKnownIDs_NormalMode = nullptr;
        g_pKnownDfuPatchInfos = nullptr;
        g_pFlashInfo = nullptr;
    }
    // A record as the flash table file gives it: numbers 1 to 3 most significant byte first.
    static _FLASH_INFO Chip(const char* name, uint32_t jedec, uint16_t capacityKb, uint16_t sectorSize = 0x1000)
    {
        _FLASH_INFO r{};
        std::strncpy(r.szName, name, sizeof r.szName - 1);
        for (int i = 0; i < 4; ++i)
            r.byJedecId[i] = static_cast<uint8_t>(jedec >> (24 - 8 * i));
        r.byCapacityKb[0] = static_cast<uint8_t>(capacityKb >> 8);
        r.byCapacityKb[1] = static_cast<uint8_t>(capacityKb);
        r.bySectorSize[0] = static_cast<uint8_t>(sectorSize >> 8);
        r.bySectorSize[1] = static_cast<uint8_t>(sectorSize);
        r.byAddressBytes = 3;
        const uint8_t opcodes[18] = {0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52,
                                     0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00};
        std::memcpy(r.byOpcodes, opcodes, sizeof opcodes);
        return r;
    }

    std::vector<_ZEL_USB_DEV_ID_INFO> known;
    std::vector<_ZEL_USB_DEV_INFO> patches;
    std::vector<_FLASH_INFO> flash;
};

// Bytes that are neither blank nor a pattern, different for every seed.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    uint32_t s = seed * 2654435761u + 1;
    for (uint8_t& b : v) {
        s = s * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(s >> 24);
    }
    return v;
}

}  // namespace simtest
