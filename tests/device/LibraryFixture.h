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

// A link to an emulated device that calls a hook (when set) with every report written, and reports
// slipped in front of the device's own answers.
class CHookedLink final : public IHidLink {
public:
    using Hook = std::function<void(CHookedLink&, const uint8_t*)>;
    CHookedLink(std::unique_ptr<IHidLink> inner, const Hook& onWrite) : m_inner(std::move(inner)), m_onWrite(onWrite) {}
    bool Write(const uint8_t* r, uint32_t t) override
    {
        if (m_onWrite)
            m_onWrite(*this, r);
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
    const Hook& m_onWrite;
};

// The emulator's transport, its links hooked.
class CHookedTransport final : public IHidTransport {
public:
    CHookedTransport(const std::string& dir, const CHookedLink::Hook& onWrite) : inner(dir), m_onWrite(onWrite) {}
    std::vector<HidInterfaceInfo> Enumerate() override { return inner.Enumerate(); }
    std::optional<HidInterfaceInfo> Describe(const std::string& p) override { return inner.Describe(p); }
    std::unique_ptr<IHidLink> Open(const std::string& p, bool b) override
    {
        auto link = inner.Open(p, b);
        return link ? std::make_unique<CHookedLink>(std::move(link), m_onWrite) : nullptr;
    }
    CEmulatorTransport inner;

private:
    const CHookedLink::Hook& m_onWrite;
};

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto t = std::make_unique<CHookedTransport>(dir.Path(), onWrite);
        transport = &t->inner;
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

    CHookedLink::Hook onWrite;  // what a test does with every report a device is sent
    simtest::CTempSimDir dir;
    simtest::CTestTables tables;
    std::unique_ptr<CHidBackend> backend;
    CEmulatorTransport* transport = nullptr;
};
