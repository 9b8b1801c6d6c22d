// image info / stamp and flash-table encrypt / decrypt / show: the program's own image library and
// flash table code, applied to files.
#include "app/QuillonApp.h"
#include "base/ByteOrder.h"
#include "base/HeapBlock.h"
#include "base/HexText.h"
#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "config/FlashTable.h"
#include "image/ZelFirmwareApi.h"
#include "platform/FileIo.h"
#include "platform/NativePath.h"
#include "platform/OutputFile.h"

#include <QFileInfo>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>

namespace {

using Buffer = CHeapBlock<uint8_t>;

// The whole file, or an error (3 when it is missing, 1 when it is empty or unreadable) in nExit.
Buffer ReadInput(CCliOutput& output, const std::string& path, int32_t& nLength, int& nExit)
{
    if (!IsRegularFile(path)) {
        output.Error("no such file: " + PrintablePath(path));
        nExit = EXIT_NOT_FOUND;
        return Buffer();
    }
    uint8_t* pData = nullptr;
    nLength = ReadWholeFile(PathFromNative(path), pData);
    if (nLength == 0) {
        output.Error("cannot read " + PrintablePath(path) + " (empty, unreadable or 2 GiB or more)");
        nExit = EXIT_FAILED;
        return Buffer();
    }
    return Buffer(pData);
}

// OUT whole or not at all, never through a link; an existing OUT only with --force.
bool WriteOutput(CCliOutput& output, const CliOptions& options, const uint8_t* pData, size_t nLength)
{
    std::string reason;
    if (WriteWholeFile(PathFromNative(options.strOut), pData, nLength, options.bForce, reason))
        return true;
    output.Error(reason == "exists" ? PrintablePath(options.strOut) + " exists; add --force to replace it"
                                    : "cannot write " + PrintablePath(options.strOut) + ": " + reason);
    return false;
}

nlohmann::json IdentityJson(const _ZEL_USB_DEV_INFO& info)
{
    return {{"vendor_id", HexText(info.wVendorId, 4)},
            {"product_id", HexText(info.wProductId, 4)},
            {"version", HexText(info.dwVersion & 0xFFFF, 4)},
            {"version_field", HexText(info.dwVersion, 8)},
            {"subversion", HexText(info.dwSubVersion, 8)},
            {"chip", {HexText(info.byChip[0], 2), HexText(info.byChip[1], 2)}}};
}

std::string IdentityText(const _ZEL_USB_DEV_INFO& info)
{
    std::ostringstream text;
    text << "Vendor ID:   " << HexText(info.wVendorId, 4) << "\n"
         << "Product ID:  " << HexText(info.wProductId, 4) << "\n"
         << "Version:     " << HexText(info.dwVersion & 0xFFFF, 4) << " (field " << HexText(info.dwVersion, 8) << ")\n"
         << "Subversion:  " << HexText(info.dwSubVersion, 8) << "\n"
         << "Chip bytes:  " << HexText(info.byChip[0], 2) << ", " << HexText(info.byChip[1], 2) << "\n";
    return text.str();
}

// A plain table text is checked before it is encrypted: the program must be able to load it.
int CountChips(const uint8_t* pText)
{
    int nParsed = 0;
    const CHeapBlock<_FLASH_INFO> table(ParseFlashTableText(reinterpret_cast<const char*>(pText), nParsed));
    return table ? nParsed : -1;
}

}  // namespace

std::string ProgramDataDir()
{
    const QString exe = ReadExecutablePath();
    return exe.isEmpty() ? std::string() : PathToNative(QFileInfo(exe).absolutePath() + QLatin1Char('/')).toStdString();
}

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int RunImageInfo(const CliOptions& options, CCliOutput& output)
{
    int nExit = EXIT_OK;
    int32_t nLength = 0;
    Buffer data = ReadInput(output, options.strIn, nLength, nExit);
    if (!data)
        return nExit;
    _ZEL_USB_DEV_INFO info{};
    CZelFirmwareImage image(std::filesystem::path(options.strIn));
    if (!image.ParseImageInfo(&info)) {
        output.Error(PrintablePath(options.strIn) + " holds no intact identity record");
        return EXIT_FAILED;
    }
    size_t nOffset = 0;
    _ZEL_USB_DEV_INFO found{};
    FindImageRecord(data.get(), static_cast<size_t>(nLength), found, &nOffset);
    nlohmann::json result = {{"command", "image info"},
                             {"file", PrintablePath(options.strIn)},
                             {"size", nLength},
                             {"record_offset", nOffset}};
    result.update(IdentityJson(info));
    output.Result(result, "File:        " + PrintablePath(options.strIn) + "\nSize:        " + std::to_string(nLength) +
                              " bytes\n" + IdentityText(info) +
                              "Record at:   " + HexText(static_cast<uint32_t>(nOffset), 1) + "\n");
    return EXIT_OK;
}

int RunImageStamp(const CliOptions& options, CCliOutput& output)
{
    int nExit = EXIT_OK;
    int32_t nLength = 0;
    Buffer data = ReadInput(output, options.strIn, nLength, nExit);
    if (!data)
        return nExit;
    std::vector<uint8_t> image(data.get(), data.get() + nLength);
    _ZEL_USB_DEV_INFO info{};
    info.wVendorId = options.nVid;
    info.wProductId = options.nPid;
    info.dwVersion = options.nVersion;
    info.dwSubVersion = options.nSubVersion;
    info.byChip[0] = options.abyChip[0];
    info.byChip[1] = options.abyChip[1];

    const char* pszHow = nullptr;
    switch (StampImageRecord(image, info, options.bAppend)) {
    case StampResult::Replaced:
        pszHow = "replaced";
        break;
    case StampResult::Trailer:
        pszHow = "trailer";
        break;
    case StampResult::Appended:
        pszHow = "appended";
        break;
    case StampResult::NoRoom:
        output.Error(PrintablePath(options.strIn) + " has no identity record and its last " +
                     std::to_string(kImageRecordSize) +
                     " bytes are not erased (0xff); nothing was written (--append adds the record after the image)");
        return EXIT_FAILED;
    }
    if (!WriteOutput(output, options, image.data(), image.size()))
        return EXIT_FAILED;
    nlohmann::json result = {{"command", "image stamp"},
                             {"file", PrintablePath(options.strOut)},
                             {"size", image.size()},
                             {"record", pszHow}};
    result.update(IdentityJson(info));
    const std::string how = std::string(pszHow) == "replaced"  ? "the identity record was replaced"
                            : std::string(pszHow) == "trailer" ? "the identity record took the erased last bytes"
                                                               : "the identity record was appended";
    output.Result(result, PrintablePath(options.strOut) + ": " + how + " (" + std::to_string(image.size()) +
                              " bytes)\n" + IdentityText(info));
    return EXIT_OK;
}

int RunFlashTableEncrypt(const CliOptions& options, CCliOutput& output)
{
    int nExit = EXIT_OK;
    int32_t nLength = 0;
    Buffer data = ReadInput(output, options.strIn, nLength, nExit);
    if (!data)
        return nExit;
    const int nChips = CountChips(data.get());
    if (nChips <= 0) {
        output.Error(PrintablePath(options.strIn) +
                     " is not a flash chip table: it must start with \"Chip\", then hold chip "
                     "lines after the header line");
        return EXIT_FAILED;
    }
    if (!EncryptFlashTable(data.get(), nLength) ||
        !WriteOutput(output, options, data.get(), static_cast<size_t>(nLength)))
        return EXIT_FAILED;
    output.Result({{"command", "flash-table encrypt"},
                   {"file", PrintablePath(options.strOut)},
                   {"chips", nChips},
                   {"size", nLength}},
                  PrintablePath(options.strOut) + ": " + std::to_string(nChips) + " flash chips, " +
                      std::to_string(nLength) + " bytes\n");
    return EXIT_OK;
}

int RunFlashTableDecrypt(const CliOptions& options, CCliOutput& output)
{
    int nExit = EXIT_OK;
    int32_t nLength = 0;
    Buffer data = ReadInput(output, options.strIn, nLength, nExit);
    if (!data)
        return nExit;
    if (!DecryptFlashTable(data.get(), nLength) || CountChips(data.get()) < 0) {
        output.Error(PrintablePath(options.strIn) + " does not decrypt to a flash chip table (no \"Chip\" header)");
        return EXIT_FAILED;
    }
    if (!WriteOutput(output, options, data.get(), static_cast<size_t>(nLength)))
        return EXIT_FAILED;
    output.Result({{"command", "flash-table decrypt"}, {"file", PrintablePath(options.strOut)}, {"size", nLength}},
                  PrintablePath(options.strOut) + ": " + std::to_string(nLength) + " bytes of plain table text\n");
    return EXIT_OK;
}

int RunFlashTableShow(const CliOptions& options, CCliOutput& output)
{
    const std::string path = options.strIn.empty() ? ProgramDataDir() + "zel.dat" : options.strIn;
    int nExit = EXIT_OK;
    int32_t nLength = 0;
    Buffer data = ReadInput(output, path, nLength, nExit);
    if (!data)
        return nExit;
    int nParsed = 0;
    CHeapBlock<_FLASH_INFO> table;
    if (DecryptFlashTable(data.get(), nLength))
        table.reset(ParseFlashTableText(reinterpret_cast<const char*>(data.get()), nParsed));
    if (!table) {
        output.Error(PrintablePath(path) +
                     " does not decrypt to a flash chip table (no \"Chip\" header, or no line end)");
        return EXIT_FAILED;
    }

    const _FLASH_INFO* pChips = table;
    nlohmann::json chips = nlohmann::json::array();
    std::ostringstream text;
    text << PrintablePath(path) << ": " << nParsed << " flash chips\n";
    for (int i = 0; i < nParsed; ++i) {
        const _FLASH_INFO& chip = pChips[i];
        nlohmann::json opcodes = nlohmann::json::array();
        std::string opcodeText;
        for (uint8_t op : chip.byOpcodes) {
            opcodes.push_back(op);
            char sz[4];
            std::snprintf(sz, sizeof sz, " %02x", op);
            opcodeText += sz;
        }
        const uint32_t nJedec = GetBigEndian(chip.byJedecId, 4);
        const uint32_t nCapacity = GetBigEndian(chip.byCapacityKb, 2);
        const uint32_t nSector = GetBigEndian(chip.bySectorSize, 2);
        chips.push_back({{"name", std::string(chip.szName)},
                         {"jedec_id", HexText(nJedec, 6)},
                         {"capacity_kib", nCapacity},
                         {"sector_size", nSector},
                         {"address_bytes", chip.byAddressBytes},
                         {"opcodes", opcodes}});
        text << "  " << i << ": " << chip.szName << "  JEDEC " << HexText(nJedec, 6) << ", " << nCapacity
             << " KiB, sector " << nSector << " bytes, " << static_cast<int>(chip.byAddressBytes)
             << " address bytes, opcodes" << opcodeText << "\n";
    }
    output.Result({{"command", "flash-table show"}, {"file", PrintablePath(path)}, {"chips", chips}}, text.str());
    return nParsed > 0 ? EXIT_OK : EXIT_FAILED;
}
