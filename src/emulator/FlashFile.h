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
// Reads an existing flash file into contents (as much as fits); false when there is none.
bool ReadFlashFile(const std::string& strPath, std::vector<uint8_t>& contents);
// Writes the whole chip to a new flash file.
void CreateFlashFile(const std::string& strPath, const std::vector<uint8_t>& contents);
// Writes these sectors of the chip into its flash file in place.
void WriteFlashSectors(const std::string& strPath, const std::vector<uint8_t>& contents,
                       const std::vector<uint32_t>& sectors);
