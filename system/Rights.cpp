#include "Rights.h"

#include "WinError.h"

#include <shellapi.h>

#include <vector>

namespace rvz {

bool IsElevated() noexcept {
    UniqueHandleKernel token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
}

bool HasAdministratorRights() {
    UniqueHandleKernel token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    LUID systemTime;
    if (!::LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &systemTime)) return false;

    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size))
        return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart == systemTime.LowPart && luid.HighPart == systemTime.HighPart) return true;
    }
    return false;
}

DesktopToken DesktopUserToken() {
    DesktopToken desktop;
    if (!IsElevated()) {
        desktop.why = L"the loader does not run elevated";
        return desktop;
    }
    const HWND shell = ::GetShellWindow();
    DWORD processId = 0;
    if (!shell || !::GetWindowThreadProcessId(shell, &processId)) {
        desktop.why = L"no desktop shell runs";
        return desktop;
    }
    const auto failed = [&desktop](const wchar_t* call) {
        desktop.why = std::wstring(call) + L": " + SystemErrorText(::GetLastError());
    };
    const UniqueHandleKernel process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    UniqueHandleKernel shellToken;
    if (!process) {
        failed(L"OpenProcess");
    } else if (!::OpenProcessToken(process.get(), TOKEN_DUPLICATE, shellToken.put())) {
        failed(L"OpenProcessToken");
    } else if (!::DuplicateTokenEx(shellToken.get(),
                                   TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                                       TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                                   nullptr, SecurityImpersonation, TokenPrimary, desktop.token.put())) {
        failed(L"DuplicateTokenEx");
    }
    return desktop;
}

UniqueHandleKernel StartElevated(const std::wstring& program, const std::wstring& parameters) {
    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof(start);
    // The process to wait for; no message box of the shell's on a failure.
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    start.lpVerb = L"runas";
    start.lpFile = program.c_str();
    start.lpParameters = parameters.c_str();
    start.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&start)) return UniqueHandleKernel();
    if (!start.hProcess) ::SetLastError(ERROR_INVALID_HANDLE);
    return UniqueHandleKernel(start.hProcess);
}

}  // namespace rvz
