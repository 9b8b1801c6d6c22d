// MD5 and RC4, as the flash table needs them.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMd5DigestSize = 16;

void Md5Digest(const uint8_t* pData, size_t nLength, uint8_t digest[kMd5DigestSize]);
// RC4 with the given key over the buffer, in place (encrypting and decrypting are the same).
bool Rc4Crypt(const uint8_t* pKey, size_t nKeyLength, uint8_t* pBuffer, size_t nLength);
