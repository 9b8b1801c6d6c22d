// Text conversions at the library's edge: paths and strings are UTF-8 or wide inside the transports,
// UTF-16 in the contract.
#pragma once

#include <string>

std::u16string Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::u16string& s);
std::u16string WideToUtf16(const std::wstring& s);
// Equal ignoring the case of the letters A to Z only.
bool EqualsIgnoreAsciiCase(const std::u16string& a, const std::u16string& b);
bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b);
