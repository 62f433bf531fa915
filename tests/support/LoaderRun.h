// A loader installation of its own for one test: the test loader in a fresh
// folder (whose name has a blank) with a configuration and, unless a test
// leaves it out, the logging stand-in for the download library. Every test
// that runs the loader runs it through this fixture.
#pragma once

#include "WinTestSupport.h"

#include <memory>
#include <string>
#include <vector>

namespace rvztest {

// The demo's configuration: the add-on Demo, which starts Tarvik with
// /app:Demo; the same as the shipped example, resources/RAVoduza_config.ini,
// which the test scripts copy.
constexpr char kDemoConfig[] = "[Loader]\r\nAppName=Demo\r\nGridCommand=/app:Demo\r\n";

class LoaderRun {
public:
    enum class Library { StandIn, Incomplete, None };

    explicit LoaderRun(const std::string& configIni = kDemoConfig,
                       Library library = Library::StandIn, const std::wstring& folderHint = L"rvz loader");

    const std::wstring& folder() const { return folder_.path(); }
    // Puts another build of the loader (a path in the build tree) in place.
    void UseLoader(const std::wstring& buildPath) const;
    std::wstring loaderPath() const { return folder() + L"RAVoduza.exe"; }

    // Starts the loader, optionally in another current folder, with a token,
    // with extra environment entries (NAME=value) for what it starts, or with
    // arguments after its name.
    Process& Start(const std::wstring& currentFolder = L"", HANDLE token = nullptr,
                   const std::vector<std::wstring>& environment = {}, const std::wstring& arguments = L"");
    Process& process() { return *process_; }
    const Process& process() const { return *process_; }

    // The calls the stand-in library recorded, one per line.
    std::vector<std::string> LibraryCalls() const;

private:
    TempFolder folder_;
    std::unique_ptr<Process> process_;
};

// True for the file name of a run's log, which the loader keeps in the
// temporary folder ("RAVoduza-...").
inline bool IsRunLog(const std::wstring& name) { return name.rfind(L"RAVoduza-", 0) == 0; }

// Lines of a UTF-8 log file, without line ends.
std::vector<std::string> ReadLines(const std::wstring& path);

// The command lines that the stand-in product at the program's path was
// started with, one per start (its product.log), once there are at least
// `atLeast` of them or 20 s have passed: a product may start after its
// loader has ended.
std::vector<std::string> ProductStarts(const std::wstring& program, size_t atLeast = 1);

// A message box of the process (class #32770): its title and text.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring title;
    std::wstring text;
};
MessageBoxSeen WaitForMessageBox(DWORD processId, std::chrono::milliseconds timeout = 20s);
// Presses the button with the id (IDOK, IDYES, IDNO...) in a window of any
// process, as a user would: posted, so that a handler that blocks (a message
// box, a wait) cannot block the test.
void PressButton(HWND window, int id);

// True when the test runs under a German user interface.
bool GermanInterface();

// A message box of the not-installed road: the message, and the run's log
// that its last line names (empty when the box names none).
struct RoadMessage {
    std::wstring message;
    std::wstring logPath;
};
RoadMessage SplitRoadMessage(const std::wstring& text);

}  // namespace rvztest
