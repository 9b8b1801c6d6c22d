// The block plan of a download: which 4 KB blocks of the image a mask selects, their byte counts, the
// mask from the per-chip masks and "Update All", and whether the flag word brackets the writes.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint32_t kBlockSize = 4096;
constexpr int32_t kDefaultFlagOffset = 0x3000;
constexpr uint8_t kFlagSet = 0xAA;  // both bytes of the flag word of a bootable image

struct PlannedBlock {
    int nBlock;       // bit of the mask
    int64_t nOffset;  // in the image
    int64_t nLength;  // 4,096, or less for the image's last block
};

// Bit n selects the image bytes from n * 4,096; the walk ends after the highest set bit or at the
// image end, whichever comes first.
std::vector<PlannedBlock> PlanBlocks(uint32_t nBlockMask, int32_t nImageSize);

// Bytes the plan writes, flag words aside.
uint64_t SelectedByteCount(uint32_t nBlockMask, int32_t nImageSize);

// The blocks that hold the serial number: the address in units of 1,024 when it is a nonzero multiple
// of 4,096, else none.
uint32_t SerialNumberMask(uint32_t nSerialAddr);

// With "Update All" the boot loader is written even where the serial-number mask covers it; without
// it neither the boot loader nor the serial number is written.
uint32_t ComposeBlockMask(uint32_t nImageMask, uint32_t nBootMask, uint32_t nSerialMask, bool bUpdateAll);

// The flag word is used when the offset is a positive multiple of 4,096, the word lies inside the
// image with at least one byte after it, and the image holds 0xAA 0xAA there.
bool FlagWordApplies(const uint8_t* pImage, int32_t nImageSize, int32_t nFlagOffset);
