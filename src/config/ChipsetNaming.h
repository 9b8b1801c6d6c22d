// Chipset identification and naming: the three name lists, the chipset type a sub-version stands for
// and the display text of a chipset type.
#pragma once

#include "config/ProfileAccess.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// A category's names in index order (at most 255 characters each, possibly empty).
struct NameList {
    std::vector<QString> names;
    int32_t Count() const { return static_cast<int32_t>(names.size()); }
};

enum NameCategory { NAME_CONTROLLER = 0, NAME_HDCODEC = 1, NAME_IISCODEC = 2 };

// The category's list from ChipsetInfo; null when the category is unknown or gives no list.
std::unique_ptr<NameList> LoadNameList(const ProfileSource& profile, int nCategory);

// The type ChipsetInfo gives a device that reports none: "SUBV_%08x", low 8 bits cleared; 0 when absent.
uint16_t SubVersionChipsetType(uint32_t nSubVersion, const ProfileSource& profile);

// The three lists a chipset type is named from; any may be null.
struct ChipsetNames {
    const NameList* pControllers = nullptr;
    const NameList* pHdCodecs = nullptr;
    const NameList* pIisCodecs = nullptr;
};

// "Unknown" when the index is outside the list.
QString ControllerName(const ChipsetNames& names, uint8_t nController);
// Empty for codec 0; 1 to 127 name HD codecs, 128 and up IIS codecs (index minus 128).
QString CodecName(const ChipsetNames& names, uint8_t nCodec);
// "controller" or "controller+codec".
QString ChipsetDisplayName(const ChipsetNames& names, uint16_t nChipsetType);
