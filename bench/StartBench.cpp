// start_bench.exe LOADER PRODUCT ROUNDS
// Times, in each of ROUNDS rounds, how long it takes from starting a program
// until the product has written its start to its log: once started directly,
// once through the loader (with the product installed). The two alternate
// in order (A B, B A, ...) with a pause before each start, so that neither
// gains from the other's tear-down. Prints, in milliseconds and as the ratio
// of each round's pair: the median, the first and the third quartile of
// each, "direct: m q1 q3 | loader: m q1 q3 | ratio: m q1 q3".
#include "Handles.h"

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
    const rvz::ProcessHandles started = rvz::ProcessHandles::Adopt(info);
    while (size() == before && Now() - start < 30000) ::Sleep(1);
    const double elapsed = Now() - start;
    ::WaitForSingleObject(started.process.get(), 30000);
    return elapsed;
}

constexpr DWORD kPauseMs = 100;

// The median and the quartiles.
void PrintSpread(const char* name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<size_t>(q * (values.size() - 1) + 0.5)]; };
    std::printf("%s: %.3f %.3f %.3f", name, at(0.5), at(0.25), at(0.75));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const std::wstring loader = argv[1];
    const std::wstring product = argv[2];
    const std::wstring log = product.substr(0, product.rfind(L'\\') + 1) + L"product.log";
    const int rounds = _wtoi(argv[3]);
    if (rounds < 1) return 2;
    std::vector<double> direct, throughLoader, ratio;
    const auto timeStart = [&](const std::wstring& commandLine, std::vector<double>& times) {
        ::Sleep(kPauseMs);
        times.push_back(TimeUntilLogged(commandLine, log));
    };
    const std::wstring directLine = L"\"" + product + L"\" /app:Demo";
    const std::wstring loaderLine = L"\"" + loader + L"\"";
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            timeStart(directLine, direct);
            timeStart(loaderLine, throughLoader);
        } else {
            timeStart(loaderLine, throughLoader);
            timeStart(directLine, direct);
        }
        ratio.push_back(throughLoader.back() / direct.back());
    }
    PrintSpread("direct", direct);
    PrintSpread(" | loader", throughLoader);
    PrintSpread(" | ratio", ratio);
    std::printf("\n");
    return 0;
}
