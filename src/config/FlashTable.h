// zel.dat: the RC4-encrypted text table of flash chips.
#pragma once

#include <cstdint>

class CQuillonDlg;

// The password from which the RC4 key is derived (its MD5 digest).
extern const char kFlashPassword[17];

bool LoadFlashTable(CQuillonDlg* pDlg);
bool DecryptFlashTable(uint8_t* pBuffer, int32_t nLength);
// RC4 is symmetric: encrypting a plain table is the same operation.
bool EncryptFlashTable(uint8_t* pBuffer, int32_t nLength);
// Start of the next non-blank line, the end of the text, or null at the end.
const char* NextLine(const char* pText);
// Copies the name (at most 255 characters, trailing blanks removed) into szName[256]; returns the
// position where the numbers begin.
const char* TakeFirstField(const char* pText, char* szName);
// Parses a plain table text (zero-terminated) into a fresh zero-filled block of L + 1 records, L being
// the number of "\n"; nParsed receives the chip lines parsed. Null when the text is not a table.
struct _FLASH_INFO;
_FLASH_INFO* ParseFlashTableText(const char* pText, int& nParsed);
