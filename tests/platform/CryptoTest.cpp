// MD5 and RC4 as the flash table's cipher uses them: one published vector each, RC4's symmetry and its
// key limits.
#include "platform/Crypto.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace {

TEST(CryptoTest, Md5AndRc4PublishedVectorsAndRc4KeyLimits)
{
    const QByteArray input("message digest");
    uint8_t digest[kMd5DigestSize];
    Md5Digest(reinterpret_cast<const uint8_t*>(input.constData()), static_cast<size_t>(input.size()), digest);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(digest), kMd5DigestSize).toHex(),
              "f96b697d7cb7938d525a2f31aaf161d0");

    const QByteArray key("Secret"), plain("Attack at dawn");
    QByteArray buffer = plain;
    auto* pData = reinterpret_cast<uint8_t*>(buffer.data());
    const auto* pKey = reinterpret_cast<const uint8_t*>(key.constData());
    ASSERT_TRUE(Rc4Crypt(pKey, static_cast<size_t>(key.size()), pData, static_cast<size_t>(buffer.size())));
    EXPECT_EQ(buffer.toHex(), "45a01f645fc35b383552544b9bf5");
    ASSERT_TRUE(Rc4Crypt(pKey, static_cast<size_t>(key.size()), pData, static_cast<size_t>(buffer.size())));
    EXPECT_EQ(buffer, plain);

    // RC4 refuses keys outside 1 to 256 bytes.
    uint8_t zeros[257] = {};
    uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(Rc4Crypt(zeros, 0, data, sizeof(data)));
    EXPECT_FALSE(Rc4Crypt(zeros, 257, data, sizeof(data)));
    EXPECT_FALSE(Rc4Crypt(nullptr, 16, data, sizeof(data)));
    EXPECT_EQ(data[0], 1);
    EXPECT_TRUE(Rc4Crypt(zeros, 256, data, sizeof(data)));
    EXPECT_TRUE(Rc4Crypt(zeros, 1, nullptr, 0));
}

}  // namespace
