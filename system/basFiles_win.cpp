// The Windows half of basFiles: the work directory, the file probe and the
// process wait.
#include "basFiles.h"

#include "Handles.h"
#include "WinError.h"

#include <sddl.h>

namespace rvz {

namespace {

// Administrators and the system may change the work directory; other users
// may only read it. Not inherited from the user's temporary folder, because
// the elevated loader runs what it downloads into it.
constexpr wchar_t kWorkDirectorySddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

// Dispatches every pending message. A quit request is kept for the caller's
// message loop, which must still see it after the wait.
void DispatchPendingMessages(bool& quitSeen, WPARAM& quitCode) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quitSeen = true;
            quitCode = msg.wParam;
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// Deletes what is in the folder and the folder, as far as possible. Links
// (junctions) are removed, never followed: only the folder's own files go.
void DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    const UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (find) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const DWORD attributes = entry.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                DeleteTree(path);
                continue;
            }
            if (attributes & FILE_ATTRIBUTE_READONLY)
                ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                ::RemoveDirectoryW(path.c_str());
            else
                ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(find.get(), &entry));
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

UniqueLocal WorkDirectorySecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kWorkDirectorySddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        ThrowLastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    return UniqueLocal(descriptor);
}

std::wstring CreateTempDirectory() {
    wchar_t tempFolder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, tempFolder);
    if (length == 0 || length > MAX_PATH) ThrowLastError(L"GetTempPath");

    wchar_t name[MAX_PATH];
    if (!::GetTempFileNameW(tempFolder, L"tkt", 0, name)) ThrowLastError(L"GetTempFileName");
    // Windows reserved the name by creating a file; the directory takes its place.
    if (!::DeleteFileW(name)) ThrowLastError(std::wstring(L"DeleteFile ") + name);

    const UniqueLocal descriptor = WorkDirectorySecurity();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    // Fails if anything took the name in between: never reuse a foreign directory.
    if (!::CreateDirectoryW(name, &attributes)) ThrowLastError(std::wstring(L"CreateDirectory ") + name);
    return name;
}

bool RemoveWorkDirectory(const std::wstring& path) {
    if (path.empty()) return false;
    // A program that has just ended may hold its own file for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
        DeleteTree(path);
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
        ::Sleep(100);
    }
    return false;
}

void RunAndWait(const std::wstring& commandLine) {
    try {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring line = commandLine;  // CreateProcessW may write into it
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                              nullptr, nullptr, &startup, &info))
            return;
        const ProcessHandles process = ProcessHandles::Adopt(info);
        HANDLE waitHandle = process.process.get();

        bool quitSeen = false;
        WPARAM quitCode = 0;
        // Sleeps until the process ends or a message arrives: no polling.
        while (::MsgWaitForMultipleObjectsEx(1, &waitHandle, INFINITE, QS_ALLINPUT,
                                             MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1)
            DispatchPendingMessages(quitSeen, quitCode);
        if (quitSeen) ::PostQuitMessage(static_cast<int>(quitCode));
    } catch (...) {
        // Whether or how the program ran is not this operation's business.
    }
}

bool FileExists(const std::wstring& path) {
    if (path.empty()) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace rvz
