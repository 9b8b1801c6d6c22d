// The three name lists of ChipsetInfo, the sub-version fallback and the display text of a chipset.
#include "config/ChipsetNaming.h"

#include "config/TableBlock.h"

namespace {

const QString kChipsetInfo = QStringLiteral("ChipsetInfo");

const char* CategoryWord(int nCategory)
{
    switch (nCategory) {
    case NAME_CONTROLLER:
        return "Controller";
    case NAME_HDCODEC:
        return "HDCodec";
    case NAME_IISCODEC:
        return "IISCodec";
    default:
        return nullptr;
    }
}

QString NameAt(const NameList* pList, int nIndex)
{
    if (!pList || nIndex < 0 || nIndex >= pList->Count())
        return QString();
    return pList->names[static_cast<size_t>(nIndex)];
}

}  // namespace

std::unique_ptr<NameList> LoadNameList(const ProfileSource& profile, int nCategory)
{
    const char* pszWord = CategoryWord(nCategory);
    if (!pszWord)
        return nullptr;
    const QString word = QLatin1String(pszWord);
    const int32_t nCount = static_cast<int32_t>(ReadIniInt(profile, kChipsetInfo, word + QStringLiteral("Num"), 0));
    if (nCount <= 0 || nCount > kMaxConfigEntries)
        return nullptr;
    auto pList = std::make_unique<NameList>();
    pList->names.reserve(static_cast<size_t>(nCount));
    for (int32_t i = 0; i < nCount; ++i) {
        QString name = ReadIniString(profile, kChipsetInfo, word + QStringLiteral("Name") + QString::number(i));
        // A name is zero-terminated text: it ends at its first NUL.
        if (const qsizetype nNul = name.indexOf(QChar(u'\0')); nNul >= 0)
            name.truncate(nNul);
        pList->names.push_back(name);
    }
    return pList;
}

uint16_t SubVersionChipsetType(uint32_t nSubVersion, const ProfileSource& profile)
{
    const QString key = QStringLiteral("SUBV_%1").arg(nSubVersion & 0xFFFFFF00u, 8, 16, QLatin1Char('0'));
    return static_cast<uint16_t>(ReadIniInt(profile, kChipsetInfo, key, 0));
}

QString ControllerName(const ChipsetNames& names, uint8_t nController)
{
    if (names.pControllers && nController < names.pControllers->Count())
        return NameAt(names.pControllers, nController);
    return QStringLiteral("Unknown");
}

QString CodecName(const ChipsetNames& names, uint8_t nCodec)
{
    if (nCodec == 0)
        return QString();
    if (nCodec < 128)
        return NameAt(names.pHdCodecs, nCodec);
    return NameAt(names.pIisCodecs, nCodec - 128);
}

QString ChipsetDisplayName(const ChipsetNames& names, uint16_t nChipsetType)
{
    const QString controller = ControllerName(names, static_cast<uint8_t>(nChipsetType >> 8));
    const QString codec = CodecName(names, static_cast<uint8_t>(nChipsetType & 0xFF));
    if (codec.isEmpty())
        return controller;
    return controller + u'+' + codec;
}
