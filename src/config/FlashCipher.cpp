// The cipher of zel.dat: RC4 keyed with the MD5 digest of the flash password.
#include "config/FlashTable.h"

#include "platform/Crypto.h"

const char kFlashPassword[17] = "bN4q!Xe7Lz2*Hu9w";

bool DecryptFlashTable(uint8_t* pBuffer, int32_t nLength)
{
    if (nLength < 0 || (!pBuffer && nLength > 0))
        return false;
    uint8_t key[kMd5DigestSize];
    Md5Digest(reinterpret_cast<const uint8_t*>(kFlashPassword), sizeof(kFlashPassword) - 1, key);
    return Rc4Crypt(key, sizeof(key), pBuffer, static_cast<size_t>(nLength));
}

bool EncryptFlashTable(uint8_t* pBuffer, int32_t nLength)
{
    return DecryptFlashTable(pBuffer, nLength);
}
