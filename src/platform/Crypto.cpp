// MD5 and RC4 through nettle.
#include "platform/Crypto.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

static_assert(kMd5DigestSize == MD5_DIGEST_SIZE);

void Md5Digest(const uint8_t* pData, size_t nLength, uint8_t digest[kMd5DigestSize])
{
    md5_ctx ctx;
    md5_init(&ctx);
    if (nLength > 0)
        md5_update(&ctx, nLength, pData);
    md5_digest(&ctx, MD5_DIGEST_SIZE, digest);
}

bool Rc4Crypt(const uint8_t* pKey, size_t nKeyLength, uint8_t* pBuffer, size_t nLength)
{
    if (!pKey || nKeyLength < ARCFOUR_MIN_KEY_SIZE || nKeyLength > ARCFOUR_MAX_KEY_SIZE)
        return false;
    if (nLength == 0)
        return true;
    if (!pBuffer)
        return false;
    arcfour_ctx ctx;
    arcfour_set_key(&ctx, nKeyLength, pKey);
    arcfour_crypt(&ctx, nLength, pBuffer, pBuffer);
    return true;
}
