// A main window over an in-memory Quillon.ini, for the configuration tests.
#pragma once

#include "app/QuillonDlg.h"
#include "app/QuillonEnv.h"
#include "app/WindowConfig.h"
#include "platform/MemoryProfileReader.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>

#include <cstring>
#include <memory>
#include <vector>

inline std::vector<uint8_t> BytesOf(const void* p, size_t n)
{
    const auto* pBytes = static_cast<const uint8_t*>(p);
    return std::vector<uint8_t>(pBytes, pBytes + n);
}

template <typename Record>
bool IsAllZero(const Record& record)
{
    return std::ranges::all_of(BytesOf(&record, sizeof(record)), [](uint8_t b) { return b == 0; });
}

class ConfigFixture : public ::testing::Test {
protected:
    ConfigFixture()
    {
        m_env.pProfile = &m_profile;
        m_env.strAppTitle = QStringLiteral("Quillon");
        m_pDlg = std::make_unique<CQuillonDlg>(m_env);
        // The module directory is a real folder, for zel.dat; Quillon.ini lives in memory under its path.
        m_pDlg->m_strModuleDir = m_dir.path() + u'/';
        m_pDlg->m_strIniPath = m_pDlg->m_strModuleDir + QStringLiteral("Quillon.ini");
    }

    void SetIni(const QByteArray& text) { m_profile.SetFile(m_pDlg->m_strIniPath, text); }
    CQuillonDlg* Dlg() { return m_pDlg.get(); }

    QTemporaryDir m_dir;
    CMemoryProfileReader m_profile;
    CQuillonEnv m_env;
    std::unique_ptr<CQuillonDlg> m_pDlg;
};
