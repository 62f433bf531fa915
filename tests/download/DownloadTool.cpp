// rvdl_tool URL FILE [TITLE [LANGUAGE-FILE]]: downloads through the built
// library as the loader would, then prints the result, the time taken and
// the process's peak working set. Used by the benchmark and the screenshot.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: rvdl_tool URL FILE [TITLE [LANGUAGE-FILE]]\n");
        return 2;
    }
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(::GetModuleFileNameW(nullptr, folder.data(), MAX_PATH));
    folder = folder.substr(0, folder.rfind(L'\\'));
    const std::wstring dll = folder + L"\\..\\..\\dist\\RAVoduza_Download.dll";
    const HMODULE library = ::LoadLibraryW(dll.c_str());
    if (!library) {
        std::fwprintf(stderr, L"cannot load %ls\n", dll.c_str());
        return 2;
    }
    using SetOption = int(__stdcall*)(const char*, const char*);
    using Download = int(__stdcall*)(HWND, const char*, const char*);
    const auto setOption = reinterpret_cast<SetOption>(
        reinterpret_cast<void*>(::GetProcAddress(library, "rvdl_SetOption")));
    const auto download = reinterpret_cast<Download>(
        reinterpret_cast<void*>(::GetProcAddress(library, "rvdl_Download")));
    auto ansi = [](const wchar_t* text) {
        char buffer[4096];
        ::WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
        return std::string(buffer);
    };
    if (argc > 3) setOption("title", ansi(argv[3]).c_str());
    if (argc > 4) setOption("language", ansi(argv[4]).c_str());

    // The loader has its window before it downloads; Wine's start-up of a
    // program's first window is no part of the download's time.
    const HWND host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                        nullptr, nullptr);

    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const int result = download(nullptr, ansi(argv[1]).c_str(), ansi(argv[2]).c_str());
    ::QueryPerformanceCounter(&end);

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("result %d seconds %.3f peak_working_set_mb %.1f\n", result,
                static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
                memory.PeakWorkingSetSize / 1048576.0);
    ::DestroyWindow(host);
    ::FreeLibrary(library);
    return result == 1 ? 0 : 1;
}
