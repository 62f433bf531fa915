// Helpers for the download library's tests under Wine: the loopback server's
// addresses and test pattern, the library loaded from the dist folder, and a
// second thread that watches and answers the download dialog.
#pragma once

#include "Handles.h"
#include "LoaderRun.h"
#include "RAVoduza_Download.h"
#include "WinTestSupport.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rvdltest {

using namespace std::chrono_literals;

// "http://127.0.0.1:<test port><path>".
std::string ServerUrl(const std::string& path);
// A word that no other test of this run uses, for the server's per-key paths.
std::string UniqueKey();
// The body of a GET of the server's path ("" when it cannot be fetched).
std::string HttpGet(const std::string& path);
// A loopback port on which nothing listens.
int UnusedPort();

// Bytes [start, start + size) of the server's test pattern.
std::string Pattern(uint64_t start, uint64_t size);
// Whether the file holds exactly the first `size` bytes of the pattern;
// read in chunks, so it works for files of any size.
bool FileHoldsPattern(const std::wstring& path, uint64_t size);

std::wstring DistFolder();
// The largest working set the process has had so far, in bytes.
size_t PeakWorkingSet();

// The built RAVoduza_Download.dll, by full path: the dist folder's, or a
// copy elsewhere, which is a module of its own with options of its own.
class Library {
public:
    explicit Library(const std::wstring& path = DistFolder() + L"RAVoduza_Download.dll");
    int SetOption(const char* option, const char* value) const { return setOption_(option, value); }
    int Download(HWND owner, const std::string& url, const std::wstring& file) const;
    // The same in UTF-16.
    int SetOptionW(const wchar_t* option, const wchar_t* value) const { return setOptionW_(option, value); }
    int DownloadW(HWND owner, const std::wstring& url, const std::wstring& file) const {
        return downloadW_(owner, url.c_str(), file.c_str());
    }

private:
    rvz::UniqueModule module_;
    rvdl_SetOptionProc setOption_ = nullptr;
    rvdl_DownloadProc download_ = nullptr;
    rvdl_SetOptionWProc setOptionW_ = nullptr;
    rvdl_DownloadWProc downloadW_ = nullptr;
};

// The dialog as a second thread sees it while the download runs.
class DialogView {
public:
    explicit DialogView(const std::atomic<bool>& returned) : returned_(returned) {}
    // Waits for the dialog to show; false if the download ended first.
    bool WaitForDialog(std::chrono::milliseconds timeout = 20s);
    // Waits until the condition holds or the download has returned.
    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s);
    // Waits for the failure state; its message, or "" when none came.
    std::wstring WaitForFailure(std::chrono::milliseconds timeout = 60s);

    // The credentials prompt over the dialog; null if none came in time.
    HWND WaitForPrompt(std::chrono::milliseconds timeout = 20s);
    // Fills in the prompt and presses OK, or presses Cancel without credentials.
    void AnswerPrompt(HWND prompt, const std::optional<std::pair<std::wstring, std::wstring>>& credentials) const;

    HWND window() const { return window_; }
    HWND Control(int id) const { return ::GetDlgItem(window_, id); }
    std::wstring Text(int id) const { return rvztest::WindowText(Control(id)); }
    bool Visible(int id) const { return ::IsWindowVisible(Control(id)) != FALSE; }
    void Press(int id) const { rvztest::PressButton(window_, id); }
    bool Returned() const { return returned_; }

private:
    const std::atomic<bool>& returned_;
    HWND window_ = nullptr;
};

using DialogScript = std::function<void(DialogView&)>;

struct DownloadRun {
    int result = -1;
    std::vector<std::wstring> failures;  // the messages that the dialog showed
};

// Calls rvdl_Download on this thread while the script plays the user on
// another. Every failure that the script leaves showing is noted and
// cancelled, so that no test is left hanging on the dialog.
DownloadRun RunDownload(const Library& library, HWND owner, const std::string& url,
                        const std::wstring& file, const DialogScript& script = nullptr);
// The same for any call of the library's download functions.
DownloadRun RunDownloadCall(const std::function<int()>& download, const DialogScript& script);

}  // namespace rvdltest
