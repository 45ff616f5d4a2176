// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// Windows only: the program keeps text in UTF-8 and talks to the system's W functions in
// UTF-16.
namespace kt::platform {

std::wstring ToWide(const std::string& utf8);
std::string FromWide(const std::wstring& utf16);

}  // namespace kt::platform
