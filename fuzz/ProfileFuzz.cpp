// Quillon.ini as the program reads it: the bytes of a file parsed by the profile reader, then the
// integer and string reads of the keys the configuration asks for.
#include "platform/MemoryProfileReader.h"
#include "platform/ProfileText.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

namespace {

struct Lookup {
    const char16_t* pszSection;
    const char16_t* pszKey;
};

// Keys of every kind the program reads, a few in other letter cases, and names whose case folding
// changes their length (the reader keeps folded copies of those).
constexpr Lookup kLookups[] = {
    {u"KnownIDs", u"Num"},
    {u"KnownIDs", u"ID0"},
    {u"knownids", u"id1"},
    {u"DfuPatchInfos", u"Num"},
    {u"DfuPatchInfos", u"Info0"},
    {u"ChipsetInfo", u"ControllerNum"},
    {u"ChipsetInfo", u"ControllerName0"},
    {u"ChipsetInfo", u"HDCodecName1"},
    {u"ChipsetInfo", u"IISCodecNum"},
    {u"ChipsetInfo", u"SUBV_36000000"},
    {u"ImageMask", u"CHIP_0001_SUBV_12000100"},
    {u"BootLoaderMask", u"CHIP_0180_SUBV_24000000"},
    {u"SerialNumberAddr", u"CHIP_0001_SUBV_12000100"},
    {u"FlagOffset", u"CHIP_0202_SUBV_36000000"},
    {u"\u00c4RGER", u"STRA\u00dfE"},
    {u"\u0130", u"\u212a"},
    {u"", u""},
};

const QString kPath = QStringLiteral("/fuzz/Quillon.ini");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CMemoryProfileReader reader;
    reader.SetFile(kPath, QByteArray(reinterpret_cast<const char*>(pData), static_cast<qsizetype>(nSize)));
    for (const Lookup& lookup : kLookups) {
        const QString section = QString::fromUtf16(lookup.pszSection);
        const QString key = QString::fromUtf16(lookup.pszKey);
        const uint32_t nValue = reader.GetPrivateProfileInt(section, key, 7, kPath);
        const QString text = reader.GetPrivateProfileString(section, key, QString(), 256, kPath);
        // A string read is never longer than its capacity allows, nor ends inside a character.
        if (text.size() > 255 || (!text.isEmpty() && text.back().isHighSurrogate()))
            std::abort();
        // A number other than the default needs a value, and a value is never read as empty text.
        if (nValue != 7 && text.isEmpty())
            std::abort();
        // Short buffers cut without splitting a surrogate pair.
        const QString cut = reader.GetPrivateProfileString(section, key, QString(), 3, kPath);
        if (cut.size() > 2)
            std::abort();
    }
    // The integer rules on the raw bytes too: any text, any default.
    const int32_t nDefault =
        nSize >= 4
            ? static_cast<int32_t>(pData[0] | pData[1] << 8 | pData[2] << 16 | static_cast<uint32_t>(pData[3]) << 24)
            : 0;
    ProfileTextToInt(QByteArrayView(reinterpret_cast<const char*>(pData), static_cast<qsizetype>(nSize)), nDefault);
    return 0;
}
