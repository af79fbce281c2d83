#pragma once

#include <string>

namespace Orvane {

// The only conversions between the network/configuration side (UTF-8) and the
// Windows/user side (UTF-16). Invalid input never throws: the system's own
// replacement rules apply and a failing conversion yields an empty string.
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

}  // namespace Orvane
