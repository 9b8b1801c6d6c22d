// Reads of Quillon.ini through the main window's profile reader, with the fixed buffer capacity.
#pragma once

#include <QString>
#include <cstdint>

class CQuillonDlg;

constexpr int kProfileStringCapacity = 256;   // at most 255 characters

uint32_t ReadIniInt(CQuillonDlg* pDlg, const QString& section, const QString& key, int32_t nDefault);
// The value, or the empty text when it is missing.
QString ReadIniString(CQuillonDlg* pDlg, const QString& section, const QString& key);
