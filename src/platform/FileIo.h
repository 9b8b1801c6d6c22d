// Whole-file reading for the data files, images and patches.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// Reads the whole file into a fresh buffer of length + 2 bytes (the last two zero, so that text can be
// scanned as zero-terminated). Returns the length; 0 and a null buffer when the file cannot be opened,
// is empty, is 2 GiB or more, cannot be read in full, or no memory is left. Free with std::free.
int32_t ReadWholeFile(const QString& path, uint8_t*& pBuffer);

// Writes all nLength bytes to the descriptor, going on after an interruption; false with errno set
// when it cannot (a full disk, a reader that went away).
bool WriteFully(int fd, const void* pData, size_t nLength);
