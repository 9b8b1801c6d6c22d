// The device library over the emulator, on a private copy of the example devices, selected as the
// library's backend for the test.
#pragma once

#include "device/ZelHidApi.h"
#include "device/zelhid/HidBackend.h"
#include "emulator/SimTestSupport.h"
#include "emulator/hid/EmulatorTransport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A link to an emulated device with a hook on every report written, and reports slipped in front of
// the device's own answers.
class CHookedLink final : public IHidLink {
public:
    CHookedLink(std::unique_ptr<IHidLink> inner, std::function<void(const uint8_t*)> onWrite)
        : m_inner(std::move(inner)), m_onWrite(std::move(onWrite))
    {}
    bool Write(const uint8_t* r, uint32_t t) override
    {
        m_onWrite(r);
        return m_inner->Write(r, t);
    }
    int Read(uint8_t* r, uint32_t t) override
    {
        if (injected.empty() || t == 0)
            return m_inner->Read(r, t);
        std::copy(injected.front().begin(), injected.front().end(), r);
        injected.pop_front();
        return 1;
    }
    bool IsConnected() override { return m_inner->IsConnected(); }
    std::deque<std::vector<uint8_t>> injected;

private:
    std::unique_ptr<IHidLink> m_inner;
    std::function<void(const uint8_t*)> m_onWrite;
};

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto t = std::make_unique<CEmulatorTransport>(dir.Path());
        transport = t.get();
        backend = std::make_unique<CHidBackend>(std::move(t));
        SetZelHidBackend(backend.get());
    }
    void TearDown() override
    {
        ReleaseZelUsbDevices();
        SetZelHidBackend(nullptr);
        backend.reset();
    }

    std::u16string Path16(const std::string& file) const
    {
        const std::string p = dir.File(file);
        return std::u16string(p.begin(), p.end());
    }

    // The listed device of that file after a fresh enumeration, or null.
    CZelUsbDevice* Device(const std::string& file)
    {
        const ZEL_USB_DEVICE_ARRAY* a = EnumZelUsbDevices(true, nullptr);
        for (uint32_t i = 0; a && i < a->nCount; ++i)
            if (a->ppDevices[i]->GetDevicePath() == Path16(file))
                return a->ppDevices[i];
        return nullptr;
    }

    std::shared_ptr<CEmulatedDevice> Emulated(const std::string& file)
    {
        return transport->Folder().Find(dir.File(file));
    }

    // DFU mode the way the program enters it on a device with a boot loader, then the flash chip identified.
    bool EnterDfu(CZelUsbDevice* d) { return d->SwitchToDfuMode() && (!g_pFlashInfo || d->DetectFlash()); }

    // The flag protocol over a whole image: the flag word erased, every block, then the flag word set
    // (in the image too).
    bool Download(CZelUsbDevice* d, std::vector<uint8_t>& image)
    {
        static const uint8_t erased[2] = {0xFF, 0xFF}, flag[2] = {0xAA, 0xAA};
        image[0x3000] = image[0x3001] = 0xFF;
        bool ok = d->WriteFlash(0x3000, 2, erased, true);
        for (uint32_t offset = 0; ok && offset < image.size(); offset += 4096)
            ok = d->WriteFlash(offset, 4096, image.data() + offset, true);
        image[0x3000] = image[0x3001] = 0xAA;
        return ok && d->WriteFlashFlag(0x3000, 2, flag, true);
    }

    std::vector<uint8_t> ReadAll(CZelUsbDevice* d, uint32_t offset, uint32_t length)
    {
        std::vector<uint8_t> out(length);
        uint32_t n = length;
        EXPECT_TRUE(d->ReadFlash(offset, n, out.data()));
        out.resize(n);
        return out;
    }

    simtest::CTempSimDir dir;
    simtest::CTestTables tables;
    std::unique_ptr<CHidBackend> backend;
    CEmulatorTransport* transport = nullptr;
};
