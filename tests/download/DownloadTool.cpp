// rvdl_tool URL FILE [TITLE [LANGUAGE-FILE]]: downloads through the built
// library as the loader would, then prints the result, the time taken and
// the process's peak working set. Used by the benchmark and the screenshot.
// rvdl_tool --plain URL: the benchmark's baseline, a plain WinINet loop with
// the library's request flags, header and read size that receives the body
// into NUL.
#include "RAVoduza_Download.h"
#include "Transfer.h"
#include "basFiles.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

int ReceiveToNowhere(const wchar_t* url) {
    const rvdl::UniqueInternet session(
        ::InternetOpenW(L"rvdl_tool", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const rvdl::UniqueInternet request(
        session ? ::InternetOpenUrlW(session.get(), url, rvdl::kAcceptHeader,
                                     static_cast<DWORD>(std::size(rvdl::kAcceptHeader) - 1), rvdl::kRequestFlags, 0)
                : nullptr);
    const rvz::UniqueFile nowhere(::CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    bool received = request && nowhere;
    std::vector<char> buffer(rvdl::kLargestReadBytes);
    for (DWORD read = 1, written = 0; received && read > 0;)
        received = ::InternetReadFile(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) &&
                   ::WriteFile(nowhere.get(), buffer.data(), read, &written, nullptr);
    return received ? 1 : 0;
}

// The loader downloads once its wizard has been shown, answered and closed
// on the same thread: Wine's start-up of a thread's first window (its input
// method, the fonts of its frame, the display's resources) is no part of the
// download's time.
void ShowAndCloseAWizard() {
    const rvz::UniqueWindow wizard(::CreateWindowExW(0, L"STATIC", L"RAVoduza", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                                     100, 100, 400, 200, nullptr, nullptr, nullptr, nullptr));
    ::SetForegroundWindow(wizard.get());
    ::UpdateWindow(wizard.get());
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    ::ShowWindow(wizard.get(), SW_HIDE);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool plain = argc == 3 && std::wstring(argv[1]) == L"--plain";
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: rvdl_tool URL FILE [TITLE [LANGUAGE-FILE]] | --plain URL\n");
        return 2;
    }
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(::GetModuleFileNameW(nullptr, folder.data(), MAX_PATH));
    folder = folder.substr(0, folder.rfind(L'\\'));
    const std::wstring dll = folder + L"\\..\\..\\dist\\RAVoduza_Download.dll";
    const rvz::UniqueModule library(plain ? nullptr : ::LoadLibraryW(dll.c_str()));
    if (!plain && !library) {
        std::fwprintf(stderr, L"cannot load %ls\n", dll.c_str());
        return 2;
    }
    const auto setOption = rvz::FunctionOf<rvdl_SetOptionWProc>(library.get(), "rvdl_SetOptionW");
    const auto download = rvz::FunctionOf<rvdl_DownloadWProc>(library.get(), "rvdl_DownloadW");
    if (argc > 3) setOption(L"title", argv[3]);
    if (argc > 4) setOption(L"language", argv[4]);

    ShowAndCloseAWizard();

    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const int result = plain ? ReceiveToNowhere(argv[2]) : download(nullptr, argv[1], argv[2]);
    ::QueryPerformanceCounter(&end);

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("result %d seconds %.3f peak_working_set_mb %.1f\n", result,
                static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
                memory.PeakWorkingSetSize / 1048576.0);
    return result == 1 ? 0 : 1;
}
