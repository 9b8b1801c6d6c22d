// Persistence of a device's flash: the file that holds the whole chip beside its device file, and the
// contents a new flash starts with.
#pragma once

#include "emulator/DeviceFile.h"

#include <cstdint>
#include <string>
#include <vector>

// The contents of a flash made for the first time, as the device file's "flash.initial" and
// "flash.image" say; flash is sized to the chip and erased.
void MakeInitialFlash(const DeviceDescription& desc, std::vector<uint8_t>& flash);
// Whether strFile ("flash.file") names a file inside strFolder: relative, not leading out through
// "..", and not through a symbolic link either.
bool FlashFileInsideFolder(const std::string& strFolder, const std::string& strFile);
// An existing flash file must hold exactly the chip: a shorter or longer one is not its contents (a
// kill while a file was made, or another chip's). True when there is none yet.
bool CheckFlashFile(const std::string& strPath, uint64_t nChipBytes, std::string& strError);
// Reads an existing flash file into contents (as much as fits); false when there is none.
bool ReadFlashFile(const std::string& strPath, std::vector<uint8_t>& contents);
// Writes the whole chip to a new flash file: into a temporary file beside it, flushed to the disk, then
// renamed into place, so that the file never exists half-written.
void CreateFlashFile(const std::string& strPath, const std::vector<uint8_t>& contents);
// Writes these sectors of the chip into its flash file in place.
void WriteFlashSectors(const std::string& strPath, const std::vector<uint8_t>& contents,
                       const std::vector<uint32_t>& sectors);
