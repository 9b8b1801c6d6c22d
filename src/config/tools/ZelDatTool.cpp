// quillon-zeldat: encrypts a plain flash chip table into zel.dat, or decrypts zel.dat for editing.
// A plain table is checked before it is encrypted: it must start with "Chip" and hold at least one
// chip line, as the program needs to load it.
#include "base/HeapBlock.h"
#include "config/FlashTable.h"
#include "device/ZelHidApi.h"
#include "platform/FileIo.h"

#include "platform/NativePath.h"
#include "platform/OutputFile.h"

#include <CLI/CLI.hpp>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using Buffer = CHeapBlock<uint8_t>;

// The build rewrites its outputs: an existing regular file is replaced, whole or not at all.
bool WriteFileAtomically(const std::string& path, const uint8_t* pData, int32_t nLength)
{
    std::string reason;
    const bool bOk = WriteWholeFile(PathFromNative(path), pData, static_cast<size_t>(nLength), true, reason);
    if (!bOk)
        std::fprintf(stderr, "quillon-zeldat: cannot write %s: %s\n", path.c_str(), reason.c_str());
    return bOk;
}

Buffer ReadInput(const std::string& path, int32_t& nLength)
{
    uint8_t* pData = nullptr;
    nLength = ReadWholeFile(PathFromNative(path), pData);
    if (nLength == 0)
        std::fprintf(stderr, "quillon-zeldat: cannot read %s (missing, empty, not a regular file or 2 GiB or more)\n",
                     path.c_str());
    return Buffer(pData);
}

// The number of chip lines, or a message and -1 when the text is no table.
int CheckTable(const uint8_t* pText, const std::string& path)
{
    int nParsed = 0;
    const CHeapBlock<_FLASH_INFO> table(ParseFlashTableText(reinterpret_cast<const char*>(pText), nParsed));
    if (!table || nParsed == 0) {
        std::fprintf(stderr,
                     "quillon-zeldat: %s is not a flash chip table: it must start with \"Chip\", "
                     "then hold chip lines after the header line\n",
                     path.c_str());
        return -1;
    }
    return nParsed;
}

int Encrypt(const std::string& input, const std::string& output)
{
    int32_t nLength = 0;
    Buffer data = ReadInput(input, nLength);
    if (!data)
        return 1;
    const int nChips = CheckTable(data.get(), input);
    if (nChips < 0)
        return 1;
    if (std::memchr(data.get(), 0, static_cast<size_t>(nLength)))
        std::fprintf(stderr, "quillon-zeldat: warning: %s holds a zero byte; the table ends there\n", input.c_str());
    if (!EncryptFlashTable(data.get(), nLength)) {
        std::fprintf(stderr, "quillon-zeldat: cannot encrypt %s\n", input.c_str());
        return 1;
    }
    if (!WriteFileAtomically(output, data.get(), nLength))
        return 1;
    std::printf("%s: %d flash chips, %d bytes\n", output.c_str(), nChips, nLength);
    return 0;
}

int Decrypt(const std::string& input, const std::string& output)
{
    int32_t nLength = 0;
    Buffer data = ReadInput(input, nLength);
    if (!data)
        return 1;
    if (!DecryptFlashTable(data.get(), nLength))
        return 1;
    if (CheckTable(data.get(), input) < 0)
        return 1;
    if (!WriteFileAtomically(output, data.get(), nLength))
        return 1;
    return 0;
}

}  // namespace

// An exception ends this build-time tool with a failure, which fails the build step as it should.
int main(int argc, char** argv)  // NOLINT(bugprone-exception-escape)
{
    CLI::App app{"Makes zel.dat, the encrypted flash chip table, from its plain text, and reads it back."};
    app.require_subcommand(1);
    std::string input;
    std::string output;
    CLI::App* pEncrypt = app.add_subcommand("encrypt", "plain text table -> zel.dat");
    pEncrypt->add_option("plain", input, "plain text table")->required();
    pEncrypt->add_option("zeldat", output, "encrypted file to write")->required();
    CLI::App* pDecrypt = app.add_subcommand("decrypt", "zel.dat -> plain text table");
    pDecrypt->add_option("zeldat", input, "encrypted file")->required();
    pDecrypt->add_option("plain", output, "plain text file to write")->required();
    CLI11_PARSE(app, argc, argv);
    return pEncrypt->parsed() ? Encrypt(input, output) : Decrypt(input, output);
}
