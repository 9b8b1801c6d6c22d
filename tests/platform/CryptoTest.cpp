// MD5 against the RFC 1321 test suite, RC4 against published vectors.
#include "platform/Crypto.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <string>

namespace {

std::string Hex(const uint8_t* p, size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(p), static_cast<qsizetype>(n)).toHex().toStdString();
}

TEST(CryptoTest, Md5Rfc1321Vectors)
{
    const struct {
        const char* pszInput;
        const char* pszDigest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        uint8_t digest[kMd5DigestSize];
        Md5Digest(reinterpret_cast<const uint8_t*>(c.pszInput), std::char_traits<char>::length(c.pszInput), digest);
        EXPECT_EQ(Hex(digest, sizeof(digest)), c.pszDigest) << '"' << c.pszInput << '"';
    }
}

TEST(CryptoTest, Rc4PublishedVectorsAndSymmetry)
{
    const struct {
        QByteArray key;
        QByteArray plain;
        const char* pszCipher;
    } cases[] = {
        {"Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki", "pedia", "1021bf0420"},
        {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
        // RFC 6229, keystream at offset 0 (zero plain text) for a 40-bit and a 128-bit key.
        {QByteArray::fromHex("0102030405"), QByteArray(16, '\0'), "b2396305f03dc027ccc3524a0a1118a8"},
        {QByteArray::fromHex("0102030405060708090a0b0c0d0e0f10"), QByteArray(16, '\0'),
         "9ac7cc9a609d1ef7b2932899cde41b97"},
    };
    for (const auto& c : cases) {
        QByteArray buffer = c.plain;
        auto* pData = reinterpret_cast<uint8_t*>(buffer.data());
        const auto* pKey = reinterpret_cast<const uint8_t*>(c.key.constData());
        ASSERT_TRUE(Rc4Crypt(pKey, static_cast<size_t>(c.key.size()), pData, static_cast<size_t>(buffer.size())));
        EXPECT_EQ(buffer.toHex().toStdString(), c.pszCipher);
        ASSERT_TRUE(Rc4Crypt(pKey, static_cast<size_t>(c.key.size()), pData, static_cast<size_t>(buffer.size())));
        EXPECT_EQ(buffer, c.plain);
    }
}

TEST(CryptoTest, Rc4RefusesKeysOutsideOneTo256Bytes)
{
    uint8_t key[257] = {};
    uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(Rc4Crypt(key, 0, data, sizeof(data)));
    EXPECT_FALSE(Rc4Crypt(key, 257, data, sizeof(data)));
    EXPECT_FALSE(Rc4Crypt(nullptr, 16, data, sizeof(data)));
    EXPECT_EQ(data[0], 1);
    EXPECT_TRUE(Rc4Crypt(key, 256, data, sizeof(data)));
    EXPECT_TRUE(Rc4Crypt(key, 1, nullptr, 0));
}

}  // namespace
