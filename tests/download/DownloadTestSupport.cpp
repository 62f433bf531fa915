#include "DownloadTestSupport.h"

#include "DialogIds.h"
#include "Transfer.h"
#include "WinError.h"

#include <psapi.h>
#include <wininet.h>
#include <winsock2.h>

#include <cstring>
#include <stdexcept>

namespace rvdltest {

namespace {

constexpr uint64_t kBlock = 1 << 20;
constexpr uint64_t kHeader = 8;

char PatternByte(uint64_t offset) {
    const uint64_t inBlock = offset % kBlock;
    if (inBlock < kHeader) return static_cast<char>((offset / kBlock) >> (8 * inBlock));
    return static_cast<char>((inBlock * 131 + (inBlock >> 10)) & 0xFF);
}

}  // namespace

std::string ServerUrl(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(RAVODUZA_TEST_PORT) + path;
}

std::string UniqueKey() {
    static int counter = 0;
    return "k" + std::to_string(::GetCurrentProcessId()) + "x" + std::to_string(::GetTickCount()) +
           "x" + std::to_string(++counter);
}

std::string HttpGet(const std::string& path) {
    const rvdl::UniqueInternet session(
        ::InternetOpenA("rvdl tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    const rvdl::UniqueInternet request(
        ::InternetOpenUrlA(session.get(), ServerUrl(path).c_str(), nullptr, 0,
                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    std::string body;
    char buffer[4096];
    DWORD read = 0;
    while (request && ::InternetReadFile(request.get(), buffer, sizeof(buffer), &read) && read)
        body.append(buffer, read);
    return body;
}

int UnusedPort() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::closesocket(probe);
    ::WSACleanup();
    return ntohs(address.sin_port);
}

std::string Pattern(uint64_t start, uint64_t size) {
    std::string bytes(static_cast<size_t>(size), '\0');
    for (uint64_t i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = PatternByte(start + i);
    return bytes;
}

bool FileHoldsPattern(const std::wstring& path, uint64_t size) {
    const rvz::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length{};
    if (!file || !::GetFileSizeEx(file.get(), &length) ||
        static_cast<uint64_t>(length.QuadPart) != size)
        return false;
    std::string chunk(kBlock, '\0');
    for (uint64_t offset = 0; offset < size; offset += kBlock) {
        const DWORD want = static_cast<DWORD>(std::min(kBlock, size - offset));
        DWORD read = 0;
        if (!::ReadFile(file.get(), chunk.data(), want, &read, nullptr) || read != want)
            return false;
        if (std::memcmp(chunk.data(), Pattern(offset, want).data(), want) != 0) return false;
    }
    return true;
}

std::wstring DistFolder() { return rvztest::BuildFolder() + L"dist\\"; }

size_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

Library::Library(const std::wstring& path) : module_(::LoadLibraryW(path.c_str())) {
    if (!module_) throw std::runtime_error("RAVoduza_Download.dll did not load");
    setOption_ = reinterpret_cast<decltype(setOption_)>(
        reinterpret_cast<void*>(::GetProcAddress(module_.get(), "rvdl_SetOption")));
    download_ = reinterpret_cast<decltype(download_)>(
        reinterpret_cast<void*>(::GetProcAddress(module_.get(), "rvdl_Download")));
    setOptionW_ = reinterpret_cast<decltype(setOptionW_)>(
        reinterpret_cast<void*>(::GetProcAddress(module_.get(), "rvdl_SetOptionW")));
    downloadW_ = reinterpret_cast<decltype(downloadW_)>(
        reinterpret_cast<void*>(::GetProcAddress(module_.get(), "rvdl_DownloadW")));
    if (!setOption_ || !download_ || !setOptionW_ || !downloadW_)
        throw std::runtime_error("rvdl_ exports missing");
}

int Library::Download(HWND owner, const std::string& url, const std::wstring& file) const {
    return download_(owner, url.c_str(), rvz::ToAnsi(file).c_str());
}

bool DialogView::WaitForDialog(std::chrono::milliseconds timeout) {
    return rvztest::WaitUntil(
        [&] {
            for (HWND window : rvztest::TopLevelWindows(::GetCurrentProcessId())) {
                if (rvztest::ClassName(window) == RVDL_DIALOG_CLASS) {
                    window_ = window;
                    return true;
                }
            }
            return returned_.load();
        },
        timeout) && window_ != nullptr;
}

bool DialogView::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    bool held = false;
    rvztest::WaitUntil([&] { return (held = !returned_ && condition()) || returned_; }, timeout);
    return held;
}

HWND DialogView::WaitForPrompt(std::chrono::milliseconds timeout) {
    HWND prompt = nullptr;
    WaitFor(
        [&] {
            for (HWND window : rvztest::TopLevelWindows(::GetCurrentProcessId()))
                if (::GetWindow(window, GW_OWNER) == window_ && rvztest::ClassName(window) == L"#32770")
                    prompt = window;
            return prompt != nullptr;
        },
        timeout);
    return prompt;
}

void DialogView::AnswerPrompt(
    HWND prompt, const std::optional<std::pair<std::wstring, std::wstring>>& credentials) const {
    if (!credentials) {
        rvztest::PressButton(prompt, IDCANCEL);
        return;
    }
    ::SetWindowTextW(::GetDlgItem(prompt, rvdl::kUserNameId), credentials->first.c_str());
    ::SetWindowTextW(::GetDlgItem(prompt, rvdl::kPasswordId), credentials->second.c_str());
    rvztest::PressButton(prompt, IDOK);
}

std::wstring DialogView::WaitForFailure(std::chrono::milliseconds timeout) {
    if (!window_ && !WaitForDialog()) return L"";
    if (!WaitFor([&] { return Visible(rvdl::kRetryId); }, timeout)) return L"";
    return Text(rvdl::kMessageId);
}

DownloadRun RunDownload(const Library& library, HWND owner, const std::string& url,
                        const std::wstring& file, const DialogScript& script) {
    return RunDownloadCall([&] { return library.Download(owner, url, file); }, script);
}

DownloadRun RunDownloadCall(const std::function<int()>& download, const DialogScript& script) {
    DownloadRun run;
    std::atomic<bool> returned{false};
    std::thread user([&] {
        DialogView view(returned);
        if (!view.WaitForDialog()) return;
        if (script) script(view);
        // Whatever the script left: failures are noted and cancelled.
        while (!returned) {
            const std::wstring message = view.WaitForFailure(1s);
            if (!message.empty()) {
                run.failures.push_back(message);
                view.Press(rvdl::kCancelId);
                view.WaitFor([&] { return !view.Visible(rvdl::kRetryId); }, 5s);
            }
        }
    });
    run.result = download();
    returned = true;
    user.join();
    return run;
}

}  // namespace rvdltest
