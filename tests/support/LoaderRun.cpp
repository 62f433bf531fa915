#include "LoaderRun.h"

#include <cstdlib>
#include <cwchar>

namespace rvztest {

LoaderRun::LoaderRun(const std::string& configIni, Library library, const std::wstring& folderHint)
    : folder_(folderHint) {
    const std::wstring build = BuildFolder();
    CopyFileOrThrow(build + L"testdist\\RAVoduza.exe", loaderPath());
    if (library != Library::None) {
        const std::wstring from = library == Library::StandIn ? L"tests\\fakedl\\" : L"tests\\fakedl-incomplete\\";
        CopyFileOrThrow(build + from + L"RAVoduza_Download.dll", folder() + L"RAVoduza_Download.dll");
    }
    WriteFileBytes(folder() + L"RAVoduza_config.ini", configIni);
}

void LoaderRun::UseLoader(const std::wstring& buildPath) const {
    CopyFileOrThrow(BuildFolder() + buildPath, loaderPath());
}

Process& LoaderRun::Start(const std::wstring& currentFolder, HANDLE token,
                          const std::vector<std::wstring>& environment, const std::wstring& arguments) {
    const std::wstring commandLine = L"\"" + loaderPath() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    process_ = std::make_unique<Process>(commandLine, currentFolder, token, environment);
    return *process_;
}

std::vector<std::string> LoaderRun::LibraryCalls() const {
    return ReadLines(folder() + L"rvdl_calls.log");
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    const std::string text = ReadFileBytes(path);
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

MessageBoxSeen WaitForMessageBox(DWORD processId, std::chrono::milliseconds timeout) {
    MessageBoxSeen seen;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId)) {
                if (ClassName(window) != L"#32770") continue;
                seen.window = window;
                seen.title = WindowText(window);
                // A message box keeps its text in the static control 0xFFFF.
                seen.text = WindowText(::GetDlgItem(window, 0xFFFF));
                return true;
            }
            return false;
        },
        timeout);
    return seen;
}

void PressButton(HWND window, int id) { ::PostMessageW(::GetDlgItem(window, id), BM_CLICK, 0, 0); }

std::vector<std::string> ProductStarts(const std::wstring& program, size_t atLeast) {
    const std::wstring log = program.substr(0, program.rfind(L'\\') + 1) + L"product.log";
    std::vector<std::string> starts;
    WaitUntil([&] { return (starts = ReadLines(log)).size() >= atLeast; }, 20s);
    return starts;
}

RoadMessage SplitRoadMessage(const std::wstring& text) {
    for (const wchar_t* lead : {L"\r\n\r\nDetails are in the log: ", L"\r\n\r\nEinzelheiten stehen im Protokoll: "}) {
        const size_t at = text.rfind(lead);
        if (at != std::wstring::npos) return {text.substr(0, at), text.substr(at + wcslen(lead))};
    }
    return {text, L""};
}

bool GermanInterface() {
    const char* locale = std::getenv("LC_ALL");
    return locale && std::string(locale).rfind("de", 0) == 0;
}

}  // namespace rvztest
