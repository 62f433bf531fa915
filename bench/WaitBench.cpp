// wait_bench.exe loader|poll PROGRAM COMMAND_LINE
// Runs the program with the command line and waits for it the loader's way
// (RunAndWait: asleep until the process ends or a message arrives) or by
// polling with a zero time-out as a baseline, then prints the CPU seconds this process used.
#include "Handles.h"
#include "basFiles.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void PollingWait(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                          nullptr, nullptr, &startup, &info))
        return;
    const rvz::ProcessHandles started = rvz::ProcessHandles::Adopt(info);
    while (::WaitForSingleObject(started.process.get(), 0) == WAIT_TIMEOUT) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const double before = CpuSeconds();
    if (std::wcscmp(argv[1], L"poll") == 0)
        PollingWait(argv[3]);
    else
        rvz::RunAndWait(argv[2], argv[3]);
    const double used = CpuSeconds() - before;
    std::printf("%.3f\n", used > 0 ? used : 0.0);
    return 0;
}
