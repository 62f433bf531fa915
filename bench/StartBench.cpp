// start_bench.exe LOADER PRODUCT RUNS
// Times, RUNS times each, how long it takes from starting a program until the
// stand-in product has written its start to its log: once started directly,
// once through the loader (with the product installed). Prints the medians
// in milliseconds: "direct loader".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now() {
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds until the log grows past the size it had at the start.
double TimeUntilLogged(const std::wstring& commandLine, const std::wstring& log) {
    auto size = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return ::GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0u;
    };
    const DWORD before = size();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    const double start = Now();
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        return -1;
    while (size() == before && Now() - start < 30000) ::Sleep(1);
    const double elapsed = Now() - start;
    ::WaitForSingleObject(info.hProcess, 30000);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return elapsed;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const std::wstring loader = argv[1];
    const std::wstring product = argv[2];
    const std::wstring log = product.substr(0, product.rfind(L'\\') + 1) + L"product.log";
    const int runs = _wtoi(argv[3]);
    std::vector<double> direct, throughLoader;
    for (int i = 0; i < runs; ++i) {
        direct.push_back(TimeUntilLogged(L"\"" + product + L"\" /app:Demo", log));
        throughLoader.push_back(TimeUntilLogged(L"\"" + loader + L"\"", log));
    }
    std::printf("%.1f %.1f\n", Median(direct), Median(throughLoader));
    return 0;
}
