#include "dfu/BlockPlan.h"

std::vector<PlannedBlock> PlanBlocks(uint32_t nBlockMask, int32_t nImageSize)
{
    std::vector<PlannedBlock> blocks;
    int64_t nOffset = 0;
    for (int nBlock = 0; nBlock < 32 && (nBlockMask >> nBlock) != 0 && nOffset < nImageSize; ++nBlock) {
        const int64_t nLength = nImageSize - nOffset < kBlockSize ? nImageSize - nOffset : kBlockSize;
        if (((nBlockMask >> nBlock) & 1) != 0)
            blocks.push_back({nBlock, nOffset, nLength});
        nOffset += nLength;
    }
    return blocks;
}

uint64_t SelectedByteCount(uint32_t nBlockMask, int32_t nImageSize)
{
    uint64_t nTotal = 0;
    for (const PlannedBlock& block : PlanBlocks(nBlockMask, nImageSize))
        nTotal += static_cast<uint64_t>(block.nLength);
    return nTotal;
}

uint32_t SerialNumberMask(uint32_t nSerialAddr)
{
    if (nSerialAddr == 0 || (nSerialAddr & (kBlockSize - 1)) != 0)
        return 0;
    return nSerialAddr >> 10;
}

uint32_t ComposeBlockMask(uint32_t nImageMask, uint32_t nBootMask, uint32_t nSerialMask, bool bUpdateAll)
{
    if (bUpdateAll)
        return nBootMask | (nImageMask & ~nSerialMask);
    return nImageMask & ~nSerialMask & ~nBootMask;
}

bool FlagWordApplies(const uint8_t* pImage, int32_t nImageSize, int32_t nFlagOffset)
{
    if (nFlagOffset <= 0 || nFlagOffset % static_cast<int32_t>(kBlockSize) != 0)
        return false;
    if (static_cast<int64_t>(nFlagOffset) + 2 >= nImageSize)
        return false;
    const uint8_t* pFlag = pImage + nFlagOffset;
    return pFlag[0] == kFlagSet && pFlag[1] == kFlagSet;
}
