// File > Open Image: acceptance under the match policy, the image fields, the bytes and the messages.
#include "image/ZelFirmwareApi.h"
#include "support/WindowFixture.h"

#include <QTemporaryDir>
#include <cstring>

namespace {

const char* const kIncorrect = "Incorrect image file, no useful information found!";
const char* const kReadFailed = "Read DFU file failed!";

class OpenImageTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        UseExampleIni();
        PlugExample(kZa1200, u"/dev/hidraw0");
    }

    QString WriteFile(const QString& name, const std::vector<uint8_t>& bytes)
    {
        WriteFileBytes(m_dir.filePath(name).toStdString(), bytes);
        return m_dir.filePath(name);
    }

    QString Stamped(const QString& name, const _ZEL_USB_DEV_INFO& info, size_t nSize = 8192)
    {
        std::vector<uint8_t> image(nSize, 0xFF);
        image[0] = 0x42;
        EXPECT_EQ(StampImageRecord(image, info, false), StampResult::Trailer);
        return WriteFile(name, image);
    }

    // Chooses the file in File > Open Image.
    void OpenImage(const std::optional<QString>& path)
    {
        session.QueueOpenFileAnswer(path);
        ASSERT_TRUE(Host().ChooseMenuItem(ID_FILE_OPEN_IMAGE));
    }

    std::vector<QString> ImageFields()
    {
        std::vector<QString> fields;
        for (int nId : {IDC_IMG_FILE, IDC_IMG_VID, IDC_IMG_PID, IDC_IMG_VERSION, IDC_IMG_SUBVERSION, IDC_IMG_CHIPSET})
            fields.push_back(Text(nId));
        return fields;
    }

    QTemporaryDir m_dir;
};

const _ZEL_USB_DEV_INFO kZa1200Info{0x2fe3, 0x1200, 0xFFFF0106, 0x12000100, {0x00, 0x00}, {}};

}  // namespace

TEST_F(OpenImageTest, AcceptedImageIsShownTracedAndLoaded)
{
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0x10F);
    Open();
    Host().Click(IDC_CLEAR_TRACE);
    const QString path = Stamped(QStringLiteral("za1200.bin"), kZa1200Info);
    OpenImage(path);

    EXPECT_EQ(ImageFields(),
              (std::vector<QString>{path, QStringLiteral("0x2fe3"), QStringLiteral("0x1200"), QStringLiteral("0x0106"),
                                    QStringLiteral("0x12000100"), QStringLiteral("ZA1200+ZH880")}));
    EXPECT_EQ(std::memcmp(&Dlg().m_ImageInfo, &kZa1200Info, sizeof kZa1200Info), 0);
    ASSERT_NE(Dlg().m_pImageData, nullptr);
    EXPECT_EQ(Dlg().m_nImageSize, 8192);
    EXPECT_EQ(Dlg().m_pImageData[0], 0x42);
    EXPECT_EQ(TraceText(), QStringLiteral("Open DFU file %1 succeeded\r\n").arg(path));
    EXPECT_TRUE(Boxes().empty());

    const auto requests = session.FileDialogs();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].bSave);
    EXPECT_EQ(requests[0].request.strFilter, QStringLiteral("DFU Files (*.bin)|*.bin|All Files (*.*)|*.*||"));
}

// A refused image and a cancelled dialog leave the previous image as it was.
TEST_F(OpenImageTest, ImageWithoutIdentityIsRefusedUnderAPolicyAndTheOldImageStays)
{
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0x10);
    Open();
    const QString good = Stamped(QStringLiteral("good.bin"), kZa1200Info);
    OpenImage(good);
    const uint8_t* pBefore = Dlg().m_pImageData;
    const std::vector<QString> fieldsBefore = ImageFields();
    const QString traceBefore = TraceText();

    // No identity (a damaged record is none: ImageRecord.LayoutIsLittleEndianAndEveryDamageMakesItNoIdentity).
    OpenImage(WriteFile(QStringLiteral("raw.bin"), std::vector<uint8_t>(4096, 0x11)));
    OpenImage(std::nullopt);

    EXPECT_EQ(Boxes(), std::vector<std::string>{kIncorrect});
    EXPECT_EQ(Dlg().m_pImageData, pBefore);
    EXPECT_EQ(Dlg().m_nImageSize, 8192);
    EXPECT_EQ(ImageFields(), fieldsBefore);
    EXPECT_EQ(Dlg().m_ImageInfo.wProductId, 0x1200);
    EXPECT_EQ(TraceText(), traceBefore);
}

TEST_F(OpenImageTest, PolicyZeroAcceptsAnImageWithoutIdentityAsZerosAndUnreadableOnesWithoutBytes)
{
    Open();
    const QString path = WriteFile(QStringLiteral("raw.bin"), std::vector<uint8_t>(4096, 0x11));
    OpenImage(path);
    EXPECT_EQ(ImageFields(),
              (std::vector<QString>{path, QStringLiteral("0x0000"), QStringLiteral("0x0000"), QStringLiteral("0x0000"),
                                    QStringLiteral("0x00000000"), QStringLiteral("ZA1200+ZH880")}));
    EXPECT_EQ(Dlg().m_nImageSize, 4096);

    // An unreadable accepted file keeps its identity but no bytes.
    OpenImage(Stamped(QStringLiteral("first.bin"), kZa1200Info));
    ASSERT_NE(Dlg().m_pImageData, nullptr);

    const QString empty = WriteFile(QStringLiteral("empty.bin"), {});
    OpenImage(empty);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kReadFailed});
    EXPECT_EQ(Dlg().m_pImageData, nullptr) << "the first image's bytes are gone";
    EXPECT_EQ(Dlg().m_nImageSize, 0);
    EXPECT_EQ(Text(IDC_IMG_FILE), empty);
    EXPECT_EQ(Text(IDC_IMG_VID), QStringLiteral("0x0000"));
}
