#include "emulator/DeviceFile.h"

#include <nlohmann/json.hpp>

#include <limits>

using nlohmann::json;

namespace {

// Integers are JSON numbers or strings, decimal or hexadecimal after "0x".
bool ReadUnsigned(const json& v, uint64_t nMax, uint64_t& out, std::string& err, const std::string& key)
{
    uint64_t value = 0;
    if (v.is_number_unsigned()) {
        value = v.get<uint64_t>();
    } else if (v.is_number_integer() && v.get<int64_t>() >= 0) {
        value = static_cast<uint64_t>(v.get<int64_t>());
    } else if (v.is_string()) {
        const std::string s = v.get<std::string>();
        size_t used = 0;
        try {
            const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
            value = std::stoull(hex ? s.substr(2) : s, &used, hex ? 16 : 10);
            if (hex)
                used += 2;
        } catch (...) {
            used = 0;
        }
        if (used == 0 || used != s.size()) {
            err = "\"" + key + "\": not a number: " + s;
            return false;
        }
    } else {
        err = "\"" + key + "\": expected a number";
        return false;
    }
    if (value > nMax) {
        err = "\"" + key + "\": " + std::to_string(value) + " is too large";
        return false;
    }
    out = value;
    return true;
}

template <typename T>
bool ReadInto(const json& obj, const char* key, T& field, std::string& err)
{
    if (!obj.contains(key))
        return true;
    uint64_t v = 0;
    if (!ReadUnsigned(obj[key], std::numeric_limits<T>::max(), v, err, key))
        return false;
    field = static_cast<T>(v);
    return true;
}

bool ReadBool(const json& obj, const char* key, bool& field, std::string& err)
{
    if (!obj.contains(key))
        return true;
    if (!obj[key].is_boolean()) {
        err = std::string("\"") + key + "\": expected true or false";
        return false;
    }
    field = obj[key].get<bool>();
    return true;
}

bool ReadString(const json& obj, const char* key, std::string& field, std::string& err)
{
    if (!obj.contains(key))
        return true;
    if (!obj[key].is_string()) {
        err = std::string("\"") + key + "\": expected a text";
        return false;
    }
    field = obj[key].get<std::string>();
    return true;
}

bool CheckKeys(const json& obj, const std::set<std::string>& allowed, const std::string& where, std::string& err)
{
    if (!obj.is_object()) {
        err = where + ": expected an object";
        return false;
    }
    for (auto it = obj.begin(); it != obj.end(); ++it)
        if (!allowed.count(it.key())) {
            err = where + ": unknown key \"" + it.key() + "\"";
            return false;
        }
    return true;
}

bool ReadOrdinals(const json& obj, const char* key, std::set<uint32_t>& out, std::string& err)
{
    if (!obj.contains(key))
        return true;
    const json& v = obj[key];
    if (!v.is_array()) {
        err = std::string("\"") + key + "\": expected a list of counts";
        return false;
    }
    for (const json& n : v) {
        uint64_t value = 0;
        if (!ReadUnsigned(n, 0xFFFFFFFFu, value, err, key))
            return false;
        if (value == 0) {
            err = std::string("\"") + key + "\": counts start at 1";
            return false;
        }
        out.insert(static_cast<uint32_t>(value));
    }
    return true;
}

// A refusal count: true (every one), false (none) or a number of requests.
bool ReadCount(const json& obj, const char* key, int& field, std::string& err)
{
    if (!obj.contains(key))
        return true;
    const json& v = obj[key];
    if (v.is_boolean()) {
        field = v.get<bool>() ? -1 : 0;
        return true;
    }
    uint64_t value = 0;
    if (!ReadUnsigned(v, 1000000, value, err, key))
        return false;
    field = static_cast<int>(value);
    return true;
}

// A name from a fixed set; unknown(name) says what is wrong with any other.
template <typename E, typename Unknown>
bool ReadNamed(const json& obj, const char* key, const std::map<std::string, E>& names, E& field, std::string& err,
               Unknown unknown)
{
    std::string name;
    if (!ReadString(obj, key, name, err))
        return false;
    if (name.empty())
        return true;
    const auto it = names.find(name);
    if (it == names.end()) {
        err = unknown(name);
        return false;
    }
    field = it->second;
    return true;
}

bool ReadCutPhase(const json& obj, FlashCutPhase& field, std::string& err)
{
    static const std::map<std::string, FlashCutPhase> phases = {
        {"before", FlashCutPhase::Before}, {"during", FlashCutPhase::During}, {"after", FlashCutPhase::After}};
    return ReadNamed(obj, "unplugFlashOpPhase", phases, field, err, [](const std::string&) {
        return std::string("\"unplugFlashOpPhase\": expected \"before\", \"during\" or \"after\"");
    });
}

bool ReadStep(const json& obj, UnplugStep& field, std::string& err)
{
    static const std::map<std::string, UnplugStep> steps = {
        {"enterDfu", UnplugStep::EnterDfu}, {"patch", UnplugStep::Patch}, {"leaveDfu", UnplugStep::LeaveDfu},
        {"flashId", UnplugStep::FlashId},   {"erase", UnplugStep::Erase}, {"program", UnplugStep::Program},
        {"write", UnplugStep::Write},       {"read", UnplugStep::Read},   {"crcQuery", UnplugStep::CrcQuery}};
    return ReadNamed(obj, "unplugAtStep", steps, field, err,
                     [](const std::string& name) { return "\"unplugAtStep\": unknown step \"" + name + "\""; });
}

// A list of [response ordinal, bit index] pairs.
bool ReadFlips(const json& obj, const char* key, std::map<uint32_t, uint32_t>& out, std::string& err)
{
    if (!obj.contains(key))
        return true;
    const json& v = obj[key];
    const std::string expected =
        std::string("\"") + key + "\": expected a list of [count, bit] pairs, counts from 1, bits 0 to 511";
    if (!v.is_array()) {
        err = expected;
        return false;
    }
    for (const json& pair : v) {
        uint64_t n = 0, bit = 0;
        if (!pair.is_array() || pair.size() != 2 || !ReadUnsigned(pair[0], 0xFFFFFFFFu, n, err, key) ||
            !ReadUnsigned(pair[1], 511, bit, err, key) || n == 0) {
            err = expected;
            return false;
        }
        out[static_cast<uint32_t>(n)] = static_cast<uint32_t>(bit);
    }
    return true;
}

bool ParseFaults(const json& f, FaultPlan& out, std::string& err)
{
    if (!CheckKeys(f,
                   {"failWrites", "corruptWrites", "timeoutWrites", "failReads", "corruptReads", "timeoutReads",
                    "unplugAfterReports", "unplugAtStep", "unplugAtStepCount", "refuseDfu", "refuseNormal",
                    "flashIdFails", "unplugAtFlashOp", "unplugFlashOpPhase", "dropResponses", "duplicateResponses",
                    "staleResponses", "flipResponses", "flipCommands"},
                   "\"faults\"", err))
        return false;
    if (!ReadOrdinals(f, "failWrites", out.failWrites, err) ||
        !ReadOrdinals(f, "corruptWrites", out.corruptWrites, err) ||
        !ReadOrdinals(f, "timeoutWrites", out.timeoutWrites, err) ||
        !ReadOrdinals(f, "failReads", out.failReads, err) || !ReadOrdinals(f, "corruptReads", out.corruptReads, err) ||
        !ReadOrdinals(f, "timeoutReads", out.timeoutReads, err) ||
        !ReadInto(f, "unplugAfterReports", out.nUnplugAfterReports, err) || !ReadStep(f, out.unplugStep, err) ||
        !ReadInto(f, "unplugAtStepCount", out.nUnplugStepCount, err) ||
        !ReadCount(f, "refuseDfu", out.nRefuseDfu, err) || !ReadCount(f, "refuseNormal", out.nRefuseNormal, err) ||
        !ReadCount(f, "flashIdFails", out.nFlashIdFails, err) ||
        !ReadInto(f, "unplugAtFlashOp", out.nUnplugAtFlashOp, err) || !ReadCutPhase(f, out.unplugFlashOpPhase, err) ||
        !ReadOrdinals(f, "dropResponses", out.dropResponses, err) ||
        !ReadOrdinals(f, "duplicateResponses", out.duplicateResponses, err) ||
        !ReadOrdinals(f, "staleResponses", out.staleResponses, err) ||
        !ReadFlips(f, "flipResponses", out.flipResponses, err) || !ReadFlips(f, "flipCommands", out.flipCommands, err))
        return false;
    if (out.nUnplugStepCount == 0) {
        err = "\"unplugAtStepCount\": counts start at 1";
        return false;
    }
    return true;
}

bool ParseTiming(const json& t, TimingModel& out, std::string& err)
{
    if (!CheckKeys(t,
                   {"reportIntervalUs", "modeSwitchUs", "patchCheckUs", "spiBytesPerMs", "realTime", "speed",
                    "pageProgramUs", "sectorEraseUs"},
                   "\"timing\"", err))
        return false;
    uint32_t pageProgram = 0, sectorErase = 0;
    const bool hasPage = t.contains("pageProgramUs"), hasErase = t.contains("sectorEraseUs");
    if (!ReadInto(t, "reportIntervalUs", out.nReportIntervalUs, err) ||
        !ReadInto(t, "modeSwitchUs", out.nModeSwitchUs, err) || !ReadInto(t, "patchCheckUs", out.nPatchCheckUs, err) ||
        !ReadInto(t, "spiBytesPerMs", out.nSpiBytesPerMs, err) || !ReadBool(t, "realTime", out.bRealTime, err) ||
        !ReadInto(t, "pageProgramUs", pageProgram, err) || !ReadInto(t, "sectorEraseUs", sectorErase, err))
        return false;
    if (t.contains("speed")) {
        if (!t["speed"].is_number() || t["speed"].get<double>() <= 0) {
            err = "\"speed\": expected a positive number";
            return false;
        }
        out.dSpeed = t["speed"].get<double>();
    }
    if (out.nReportIntervalUs == 0 || out.nSpiBytesPerMs == 0) {
        err = "\"timing\": the report interval and SPI rate must be positive";
        return false;
    }
    if (hasPage)
        out.nPageProgramUs = pageProgram;
    if (hasErase)
        out.nSectorEraseUs = sectorErase;
    return true;
}

}  // namespace

bool ParseDeviceFile(const std::string& strJson, const std::string& strDefaultStem, DeviceDescription& desc,
                     std::string& err)
{
    json j;
    try {
        j = json::parse(strJson);
    } catch (const json::exception& e) {  // a syntax error, or a number too large for any type
        err = std::string("not valid JSON: ") + e.what();
        return false;
    }
    if (!CheckKeys(j,
                   {"product", "serialNumber", "vendorId", "productId", "version", "subVersion", "chipsetType", "usage",
                    "defaultSerialNumberAddr", "hidDfu", "bootLoader", "flashCrc", "controller", "flagOffset", "flash",
                    "faults", "timing", "comment"},
                   "device file", err))
        return false;
    desc = DeviceDescription{};
    if (j.contains("product") && j["product"].is_null())
        desc.bHasProduct = false;
    else if (!ReadString(j, "product", desc.strProduct, err))
        return false;
    if (!j.contains("vendorId") || !j.contains("productId")) {
        err = "device file: \"vendorId\" and \"productId\" are required";
        return false;
    }
    if (!ReadString(j, "serialNumber", desc.strSerialNumber, err) || !ReadInto(j, "vendorId", desc.nVendorId, err) ||
        !ReadInto(j, "productId", desc.nProductId, err) || !ReadInto(j, "version", desc.nVersion, err) ||
        !ReadInto(j, "subVersion", desc.nSubVersion, err) || !ReadInto(j, "chipsetType", desc.nChipsetType, err) ||
        !ReadInto(j, "usage", desc.nUsage, err) ||
        !ReadInto(j, "defaultSerialNumberAddr", desc.nDefaultSerialAddr, err) ||
        !ReadBool(j, "hidDfu", desc.bHidDfu, err) || !ReadBool(j, "bootLoader", desc.bBootLoader, err) ||
        !ReadBool(j, "flashCrc", desc.bFlashCrc, err) || !ReadInto(j, "flagOffset", desc.nFlagOffset, err))
        return false;

    desc.nControllerIndex = static_cast<uint8_t>(desc.nChipsetType >> 8);
    if (j.contains("controller")) {
        const json& c = j["controller"];
        if (!CheckKeys(c, {"index", "name"}, "\"controller\"", err) ||
            !ReadInto(c, "index", desc.nControllerIndex, err) || !ReadString(c, "name", desc.strControllerName, err))
            return false;
    }

    std::string chip = "W25Q80DV";
    std::string initial = "firmware";
    desc.strFlashFile = strDefaultStem + ".flash";
    if (j.contains("flash")) {
        const json& f = j["flash"];
        if (!CheckKeys(f, {"chip", "file", "initial", "image"}, "\"flash\"", err) ||
            !ReadString(f, "chip", chip, err) || !ReadString(f, "file", desc.strFlashFile, err) ||
            !ReadString(f, "initial", initial, err) || !ReadString(f, "image", desc.strInitialImage, err))
            return false;
    }
    desc.pChip = FindFlashChipByName(chip);
    if (!desc.pChip) {
        err = "\"chip\": unknown flash chip \"" + chip + "\"";
        return false;
    }
    if (initial == "firmware")
        desc.initialFlash = InitialFlash::Firmware;
    else if (initial == "interrupted")
        desc.initialFlash = InitialFlash::Interrupted;
    else if (initial == "erased")
        desc.initialFlash = InitialFlash::Erased;
    else {
        err = "\"initial\": expected \"firmware\", \"interrupted\" or \"erased\"";
        return false;
    }
    if (desc.nFlagOffset > desc.pChip->nCapacity - 2) {
        err = "\"flagOffset\": outside the flash";
        return false;
    }
    if (j.contains("faults") && !ParseFaults(j["faults"], desc.faults, err))
        return false;
    if (j.contains("timing") && !ParseTiming(j["timing"], desc.timing, err))
        return false;
    return true;
}
