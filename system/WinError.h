// Error policy: exceptions inside a binary, and none across a window procedure;
// outcome codes at the install road's boundary and at the library's exports.
//
// Failures of Windows calls as C++ exceptions that carry the system's own
// description of the error.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace rvz {

class WinError : public std::runtime_error {
public:
    WinError(DWORD code, const std::string& what);
    DWORD code() const noexcept { return code_; }

private:
    DWORD code_;
};

// The system's text for an error code, without the trailing line break;
// "Error <code>" when the system has none. With a module, its message table
// is searched first: WinINet, for one, describes its own errors.
std::wstring SystemErrorText(DWORD code, HMODULE messages = nullptr);

// "action: the system's text for the code", as exception texts read (UTF-8).
std::string DescribeError(const std::wstring& action, DWORD code);

// Throws a WinError for GetLastError(), prefixed with what was being done.
[[noreturn]] void ThrowLastError(const std::wstring& action);

// Conversions between the program's UTF-16 texts and UTF-8 (exception texts)
// or the system ANSI code page (the download library's interface).
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);

}  // namespace rvz
