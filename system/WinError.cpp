#include "WinError.h"

#include "Handles.h"

namespace rvz {

namespace {

std::string Narrow(UINT codePage, const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          size, nullptr, nullptr);
    return result;
}

std::wstring Widen(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    const int size =
        ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          size);
    return result;
}

}  // namespace

WinError::WinError(DWORD code, const std::string& what) : std::runtime_error(what), code_(code) {}

std::wstring SystemErrorText(DWORD code, HMODULE messages) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
            (messages ? FORMAT_MESSAGE_FROM_HMODULE : 0),
        messages, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocal owned(buffer);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    // The line break at the end, and any blank or tab before it.
    while (!text.empty() && static_cast<unsigned>(text.back()) <= L' ') text.pop_back();
    if (text.empty()) text = L"Error " + std::to_wstring(code);
    return text;
}

std::string DescribeError(const std::wstring& action, DWORD code) {
    return ToUtf8(action + L": " + SystemErrorText(code));
}

void ThrowLastError(const std::wstring& action) {
    const DWORD code = ::GetLastError();
    throw WinError(code, DescribeError(action, code));
}

std::string ToUtf8(const std::wstring& text) { return Narrow(CP_UTF8, text); }
std::wstring FromUtf8(const std::string& text) { return Widen(CP_UTF8, text); }
std::string ToAnsi(const std::wstring& text) { return Narrow(CP_ACP, text); }
std::wstring FromAnsi(const std::string& text) { return Widen(CP_ACP, text); }

}  // namespace rvz
