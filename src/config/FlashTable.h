// zel.dat: the RC4-encrypted text table of flash chips.
#pragma once

#include "base/HeapBlock.h"
#include "device/ZelHidApi.h"

#include <QString>
#include <cstdint>

// The password from which the RC4 key is derived (its MD5 digest).
extern const char kFlashPassword[17];

// Reads, decrypts and parses the file into table. False when the file is missing, empty or does not
// decrypt (the table is left as it was), or when it parses to no chip (the table then holds what was
// parsed, possibly null).
bool LoadFlashTableFile(const QString& strPath, CHeapBlock<_FLASH_INFO>& table);
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
_FLASH_INFO* ParseFlashTableText(const char* pText, int& nParsed);
