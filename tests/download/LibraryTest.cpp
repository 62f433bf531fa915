// The built RAVoduza_Download.dll against the loopback server, with a second
// thread in the user's place.
#include "DialogIds.h"
#include "DownloadTestSupport.h"
#include "WinError.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <versionhelpers.h>

#include <algorithm>

namespace rvdltest {
namespace {

using rvztest::ListFolder;
using rvztest::PathExists;

// The loopback server behind nginx, over TLS, as tests/front_servers.py serves it.
std::string SecureUrl(const std::string& path) {
    return "https://localhost:" + std::to_string(RAVODUZA_TEST_PORT + 1) + path;
}

// The test certificate authority of tests/front_servers.py in the machine's
// Root store while the object lives. Written to the registry where Wine's
// crypt32 reads the store, in both views, before this process first builds a
// chain: an add through crypt32 would miss the copy Wine keeps once it is read.
class TrustedTestAuthority {
public:
    TrustedTestAuthority() {
        const std::wstring folder = rvztest::BuildFolder() + L"tests\\front\\";
        const std::string der = rvztest::ReadFileBytes(folder + L"ca.der");
        const std::string thumbprint = rvztest::ReadFileBytes(folder + L"ca.sha1");
        if (der.empty() || thumbprint.empty()) return;
        key_ = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" +
               rvztest::Wide(thumbprint);
        // A serialized store element: property 32 (the certificate), then its DER bytes.
        const DWORD header[] = {32, 1, static_cast<DWORD>(der.size())};
        std::string blob(reinterpret_cast<const char*>(header), sizeof(header));
        blob += der;
        for (REGSAM view : kViews) {
            rvz::UniqueKey key;
            if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE | view, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
                return;
            ::RegSetValueExW(key.get(), L"Blob", 0, REG_BINARY,
                             reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()));
        }
        added_ = true;
    }
    ~TrustedTestAuthority() {
        if (key_.empty()) return;
        for (REGSAM view : kViews) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), view, 0);
    }
    TrustedTestAuthority(const TrustedTestAuthority&) = delete;
    TrustedTestAuthority& operator=(const TrustedTestAuthority&) = delete;
    bool added() const { return added_; }

private:
    static constexpr REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    std::wstring key_;
    bool added_ = false;
};

// tinyproxy of tests/front_servers.py as the user's proxy while the object
// lives (WinINet reads the setting when a session opens); the user's own
// setting comes back afterwards.
class ScopedSystemProxy {
public:
    ScopedSystemProxy() {
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                          key_.put(), nullptr);
        for (Saved& saved : saved_) {
            DWORD size = sizeof(saved.data);
            saved.present = ::RegQueryValueExW(key_.get(), saved.name, nullptr, &saved.type,
                                               saved.data, &size) == ERROR_SUCCESS;
            saved.size = size;
        }
        const DWORD enable = 1;
        const std::wstring server = L"127.0.0.1:" + std::to_wstring(RAVODUZA_TEST_PORT + 2);
        ::RegSetValueExW(key_.get(), L"ProxyEnable", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
        ::RegSetValueExW(key_.get(), L"ProxyServer", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(server.c_str()),
                         static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    }
    ~ScopedSystemProxy() {
        for (const Saved& saved : saved_) {
            if (saved.present)
                ::RegSetValueExW(key_.get(), saved.name, 0, saved.type, saved.data, saved.size);
            else
                ::RegDeleteValueW(key_.get(), saved.name);
        }
    }
    ScopedSystemProxy(const ScopedSystemProxy&) = delete;
    ScopedSystemProxy& operator=(const ScopedSystemProxy&) = delete;

private:
    static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    struct Saved {
        const wchar_t* name;
        bool present = false;
        DWORD type = 0;
        BYTE data[1024] = {};
        DWORD size = 0;
    };
    rvz::UniqueKey key_;
    Saved saved_[2] = {{L"ProxyEnable"}, {L"ProxyServer"}};
};

using Credentials = std::optional<std::pair<std::wstring, std::wstring>>;

class DownloadLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(library.SetOption("language", rvz::ToAnsi(DistFolder() + L"RAVoduza_en.ini").c_str()), 1);
    }

    DownloadRun Run(const std::string& path, const DialogScript& script = nullptr) {
        return RunUrl(ServerUrl(path), script);
    }
    DownloadRun RunUrl(const std::string& url, const DialogScript& script = nullptr) {
        return RunDownload(library, nullptr, url, target, script);
    }

    // Nothing at the target and no temporary file beside it.
    void ExpectNothingLeft() const {
        EXPECT_FALSE(PathExists(target));
        EXPECT_TRUE(ListFolder(folder.path()).empty());
    }

    Library library;
    rvztest::TempFolder folder{L"rvdl test"};
    std::wstring target = folder.path() + L"tarvik.exe";
};

TEST_F(DownloadLibrary, SetOptionKnowsTitleAndLanguageOnly) {
    EXPECT_EQ(library.SetOption("title", "Setup - Tarvik + Demo"), 1);
    EXPECT_EQ(library.SetOption("Title", "Setup - Tarvik + Demo"), 1);
    EXPECT_EQ(library.SetOption("colour", "red"), 0);
    EXPECT_EQ(library.SetOption("", "x"), 0);
    EXPECT_EQ(library.SetOption(nullptr, "x"), 0);
    EXPECT_EQ(library.SetOption("title", nullptr), 0);
}

TEST_F(DownloadLibrary, WithoutAnAddressOrFileReturnsAtOnce) {
    EXPECT_EQ(library.Download(nullptr, "", target), 0);
    EXPECT_EQ(library.Download(nullptr, ServerUrl("/file/10"), L""), 0);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, NormalFileArrivesByteForByte) {
    const DownloadRun run = Run("/file/3000000");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.failures.empty());
    EXPECT_TRUE(FileHoldsPattern(target, 3000000));
    EXPECT_EQ(ListFolder(folder.path()), std::vector<std::wstring>{L"tarvik.exe"});
}

TEST_F(DownloadLibrary, EmptyFileArrivesAsAnEmptyFile) {
    EXPECT_EQ(Run("/file/0").result, 1);
    EXPECT_TRUE(PathExists(target));
    EXPECT_TRUE(FileHoldsPattern(target, 0));
}

TEST_F(DownloadLibrary, FilesFromTheServersRootFolderArrive) {
    // The demo and the loader's tests serve their files from this folder.
    const std::wstring served = rvztest::BuildFolder() + L"tests\\http_root\\rvdl-root-test.bin";
    rvztest::WriteFileBytes(served, Pattern(0, 70000));
    EXPECT_EQ(Run("/rvdl-root-test.bin").result, 1);
    ::DeleteFileW(served.c_str());
    EXPECT_TRUE(FileHoldsPattern(target, 70000));
}

TEST_F(DownloadLibrary, RedirectsAreFollowed) {
    EXPECT_EQ(Run("/redirect/redirect/file/123457").result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 123457));
}

TEST_F(DownloadLibrary, RedirectLoopEndsAfterTenAndAsksNoMore) {
    const std::string key = UniqueKey();
    std::string requestsAtFailure, requestsLater;
    const DownloadRun run = Run("/loop/" + key, [&](DialogView& view) {
        view.WaitForFailure();
        requestsAtFailure = HttpGet("/requests/" + key);
        ::Sleep(1000);  // the failure is on screen: nothing more may go out
        requestsLater = HttpGet("/requests/" + key);
    });
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_EQ(run.failures[0],
              L"The download was stopped after 10 redirects without the file (last to " +
                  rvztest::Wide(ServerUrl("/loop/" + key)) + L").");
    // The first request and ten redirects.
    EXPECT_EQ(std::count(requestsAtFailure.begin(), requestsAtFailure.end(), '\n'), 11);
    EXPECT_EQ(requestsLater, requestsAtFailure);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, EncodedBodiesAreDecodedOrRefusedButNeverSaved) {
    for (const char* encoding : {"gzip", "deflate"}) {
        const std::string key = UniqueKey();
        EXPECT_EQ(Run("/encoded/" + key + "/" + encoding + "/300000").result, 1) << encoding;
        EXPECT_TRUE(FileHoldsPattern(target, 300000)) << encoding;
        EXPECT_EQ(HttpGet("/requests/" + key), "identity\n") << encoding;
    }
    for (const char* encoding : {"x-gzip", "br"}) {
        const DownloadRun run = Run("/encoded/" + UniqueKey() + "/" + encoding + "/300000");
        EXPECT_EQ(run.result, 0) << encoding;
        EXPECT_EQ(run.failures, std::vector<std::wstring>{L"The server sent the file encoded as " +
                                                          rvztest::Wide(encoding) +
                                                          L", which cannot be saved as the file."});
        ExpectNothingLeft();
    }
}

TEST_F(DownloadLibrary, PartNotAskedForIsNamedWithWhatHadArrived) {
    const std::string key = UniqueKey();
    const DownloadRun run = Run("/wrongpart/" + key + "/2000000");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.failures, std::vector<std::wstring>{L"The server sent a part of the file that was "
                                                      L"not asked for, after 976 KB of 1.90 MB."});
    EXPECT_EQ(HttpGet("/requests/" + key), "-\nbytes=1000000-\n");
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, BusyServerIsAskedAgainWhenItSaysAtMostThreeTimes) {
    const struct {
        const char* path;
        int result;
        int requests;
    } cases[] = {
        {"/503/1/50000", 1, 3},        // busy twice, then the file
        {"/429/2/50000/date", 1, 2},  // Retry-After as an HTTP date
        {"/503/1/50000", 0, 4},        // busy for good: three retries, then the failure
    };
    for (const auto& c : cases) {
        const std::string key = UniqueKey();
        const std::string times = c.result ? std::to_string(c.requests - 1) : "99";
        const std::string path = "/busy/" + key + "/" + times + c.path;
        std::wstring busyText;
        const DownloadRun run = Run(path, [&](DialogView& view) {
            view.WaitFor([&] { return view.Text(rvdl::kAmountId).find(L"busy") != std::wstring::npos; });
            busyText = view.Text(rvdl::kAmountId);
        });
        EXPECT_EQ(run.result, c.result) << path;
        EXPECT_EQ(busyText.rfind(L"The server is busy. Trying again in ", 0), 0u)
            << path << ": " << rvztest::Utf8(busyText);
        EXPECT_NE(busyText.find(L" s (1 of 3)\u2026"), std::wstring::npos) << rvztest::Utf8(busyText);
        std::string requests = HttpGet("/requests/" + key);
        EXPECT_EQ(std::count(requests.begin(), requests.end(), '\n'), c.requests) << path;
        if (!c.result) {
            EXPECT_EQ(run.failures, std::vector<std::wstring>{
                                        L"The server answered with an error: 503 Service Unavailable."});
        }
    }
}

TEST_F(DownloadLibrary, ServerOrProxyThatAsksToSignInGetsThePromptsAnswer) {
    const std::wstring server = L"The server at 127.0.0.1:" + std::to_wstring(RAVODUZA_TEST_PORT);
    const struct {
        bool throughProxy;
        const char* path;
        std::wstring question;
        std::wstring declined;
    } cases[] = {
        {false, "/auth/tester/secret/70000", server + L" asks for a user name and password.",
         server + L" asked for a user name and password; none was given."},
        {true, "/file/80000", L"The proxy server asks for a user name and password.",
         L"The proxy server asked for a user name and password; none was given."},
    };
    for (const auto& c : cases) {
        std::optional<ScopedSystemProxy> proxy;
        if (c.throughProxy) proxy.emplace();
        // Declined first: WinINet keeps a password that worked for the process.
        for (const Credentials& answer : {Credentials(), Credentials({L"tester", L"secret"})}) {
            std::wstring question;
            const DownloadRun run = Run(c.path, [&](DialogView& view) {
                const HWND prompt = view.WaitForPrompt();
                ASSERT_NE(prompt, nullptr);
                question = rvztest::WindowText(::GetWindow(prompt, GW_CHILD));
                view.AnswerPrompt(prompt, answer);
            });
            EXPECT_EQ(question, c.question) << c.path;
            if (answer) {
                EXPECT_EQ(run.result, 1) << c.path;
                EXPECT_TRUE(run.failures.empty()) << c.path;
            } else {
                EXPECT_EQ(run.result, 0) << c.path;
                EXPECT_EQ(run.failures, std::vector<std::wstring>{c.declined}) << c.path;
                ExpectNothingLeft();
            }
        }
    }
    EXPECT_TRUE(FileHoldsPattern(target, 80000));

    // A user name and password in the address sign in without asking.
    bool prompted = false;
    const DownloadRun run = RunUrl(ServerUrl("/auth/owner/key/60000").insert(7, "owner:key@"),
                                   [&](DialogView& view) {
                                       if (const HWND prompt = view.WaitForPrompt()) {
                                           prompted = true;
                                           view.AnswerPrompt(prompt, Credentials());
                                       }
                                   });
    EXPECT_EQ(run.result, 1);
    EXPECT_FALSE(prompted);
}

TEST_F(DownloadLibrary, HttpsIsTrustedAndNeverLeftForHttp) {
    const TrustedTestAuthority authority;
    ASSERT_TRUE(authority.added()) << "tests/front_servers.py made no certificate authority";
    EXPECT_EQ(RunUrl(SecureUrl("/file/5000")).result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 5000));
    EXPECT_EQ(RunUrl(SecureUrl("/redirect/file/6000")).result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 6000));

    const std::string key = UniqueKey();
    const std::string plain = ServerUrl("/encoded/" + key + "/identity/7000");
    const DownloadRun run = RunUrl(SecureUrl("/goto/http/" + plain.substr(7)));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.failures,
              std::vector<std::wstring>{L"The server redirected the download from https to "
                                        L"insecure http; for your safety it was not followed: " +
                                        rvztest::Wide(plain)});
    EXPECT_EQ(HttpGet("/requests/" + key), "");  // nothing went out over plain HTTP
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, ServerWithoutACommonTlsVersionIsNamedWithWhatTurnsTls12On) {
    ASSERT_TRUE(::IsWindows7OrGreater() && !::IsWindows8OrGreater())
        << "Wine 8 reports Windows 7 unless its prefix is told otherwise";
    // tests/front_servers.py speaks TLS 1.3 only there, which Wine's schannel does not offer.
    const std::string host = "localhost:" + std::to_string(RAVODUZA_TEST_PORT + 3);
    const DownloadRun run = RunUrl("https://" + host + "/file/5000");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.failures,
              std::vector<std::wstring>{
                  L"The server at " + rvztest::Wide(host) +
                  L" and Windows could not agree on a secure connection: the server needs TLS 1.2 "
                  L"or later, which Windows 7 leaves off. Switch on \"Use TLS 1.2\" in Internet "
                  L"Options on the Advanced tab, or install Internet Explorer 11 from Windows "
                  L"Update, which switches it on; then try again."});
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, FullDiskNamesTheDriveAndTheSizesAndLeavesNothing) {
    ULARGE_INTEGER free{}, size{};
    if (!::GetDiskFreeSpaceExW(L"R:\\", &free, &size, nullptr) || size.QuadPart > (2u << 20))
        GTEST_SKIP() << "no small drive R: (tests/download/small_drive.py mounts one as root)";
    target = L"R:\\tarvik.exe";
    const DownloadRun run = Run("/file/3000000");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.failures, std::vector<std::wstring>{L"There is not enough free space on R:\\: the "
                                                      L"file needs 2.86 MB, and 1.00 MB are free."});
    EXPECT_TRUE(ListFolder(L"R:\\").empty());
}

TEST_F(DownloadLibrary, ErrorStatusSavesNoPageAndSaysSo) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"/status/404", L"The file was not found on the server (404 Not Found)."},
        {"/status/500", L"The server answered with an error: 500 Internal Server Error."},
        {"/status/302", L"The server answered with an error: 302 Found."},  // a redirect to nowhere
    };
    for (const auto& [path, message] : cases) {
        const DownloadRun run = Run(path);
        EXPECT_EQ(run.result, 0) << path;
        EXPECT_EQ(run.failures, std::vector<std::wstring>{message}) << path;
        ExpectNothingLeft();
    }
}

// The windows that raised an alert for an accessibility client on this
// thread, with their texts: what a screen reader announces.
std::vector<std::pair<int, std::wstring>> alerts;

void CALLBACK NoteAlert(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (object == OBJID_CLIENT && child == CHILDID_SELF)
        alerts.emplace_back(::GetDlgCtrlID(window), rvztest::WindowText(window));
}

TEST_F(DownloadLibrary, FailureIsAnnouncedWhenItAppears) {
    alerts.clear();
    // Out of context: called on this thread while the dialog's loop runs on it.
    const HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, NoteAlert,
                                                 ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const rvz::ScopeExit unhook([&] { ::UnhookWinEvent(hook); });
    const DownloadRun run = Run("/status/404");
    EXPECT_EQ(run.failures, std::vector<std::wstring>{L"The file was not found on the server (404 Not Found)."});
    EXPECT_EQ(alerts, (std::vector<std::pair<int, std::wstring>>{{rvdl::kMessageId, run.failures.at(0)}}));
}

TEST_F(DownloadLibrary, BodyShorterThanItsLengthLeavesNoFile) {
    const DownloadRun run = Run("/short/100000/40000");
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_NE(run.failures[0].find(L"was lost after 39.0 KB of 97.6 KB"), std::wstring::npos)
        << rvztest::Utf8(run.failures[0]);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, RefusedConnectionLeavesNoFileAndSaysSo) {
    const int port = UnusedPort();
    const DownloadRun run = RunDownload(
        library, nullptr, "http://127.0.0.1:" + std::to_string(port) + "/tarvik.exe", target);
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.failures.size(), 1u);
    // Nothing lies between here and the loopback server: the server refused, the
    // Internet connection is not to blame.
    EXPECT_EQ(run.failures[0], L"The server at 127.0.0.1:" + std::to_wstring(port) +
                                   L" refused the connection; it is not accepting connections "
                                   L"now. Try again later.");
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, DroppedConnectionResumesWithRange) {
    const std::string key = UniqueKey();
    const DownloadRun run = Run("/drop/" + key + "/1/2000000");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 2000000));
    // The first request took half the file, the second asked for the rest.
    EXPECT_EQ(HttpGet("/requests/" + key), "-\nbytes=1000000-\n");
}

TEST_F(DownloadLibrary, ServerIgnoringTheRangeIsReadFromTheStartAgain) {
    const std::string key = UniqueKey();
    EXPECT_EQ(Run("/drop-norange/" + key + "/2/2000000").result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 2000000));
    EXPECT_EQ(HttpGet("/requests/" + key), "-\nbytes=1000000-\nbytes=1000000-\n");
}

TEST_F(DownloadLibrary, ThreeResumesThenTheDownloadFails) {
    const std::string key = UniqueKey();
    const DownloadRun run = Run("/drop/" + key + "/99/4000000");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.failures.size(), 1u);
    // Each attempt gets half of what was still missing.
    EXPECT_EQ(HttpGet("/requests/" + key),
              "-\nbytes=2000000-\nbytes=3000000-\nbytes=3500000-\n");
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, RetryAfterAFailureCanStillSucceed) {
    const std::string key = UniqueKey();
    std::wstring firstFailure;
    const DownloadRun run = Run("/fail/" + key + "/1/503/50000", [&](DialogView& view) {
        firstFailure = view.WaitForFailure();
        view.Press(rvdl::kRetryId);
        view.WaitFor([&] { return !view.Visible(rvdl::kRetryId); }, 5s);
    });
    EXPECT_EQ(firstFailure, L"The server answered with an error: 503 Service Unavailable.");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.failures.empty());
    EXPECT_TRUE(FileHoldsPattern(target, 50000));
}

TEST_F(DownloadLibrary, CancelDuringAStalledTransferReturnsPromptlyAndLeavesNoFile) {
    std::chrono::steady_clock::time_point pressed;
    bool receiving = false;
    const DownloadRun run = Run("/stall/10000000/300000", [&](DialogView& view) {
        // Wait until part of the file has arrived and the server has gone quiet.
        receiving = view.WaitFor([&] { return view.Text(rvdl::kAmountId).find(L" of ") != std::wstring::npos; });
        ::Sleep(500);
        pressed = std::chrono::steady_clock::now();
        view.Press(rvdl::kCancelId);
    });
    const auto took = std::chrono::steady_clock::now() - pressed;
    EXPECT_TRUE(receiving);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.failures.empty());
    // The server stalls for two minutes; a cancel that waited for it would show here.
    EXPECT_LT(took, 5s);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, CancelWhileTheServerNeverAnswersReturnsPromptly) {
    std::chrono::steady_clock::time_point pressed;
    const DownloadRun run = Run("/hang", [&](DialogView& view) {
        EXPECT_EQ(view.Text(rvdl::kAmountId),
                  L"Connecting to 127.0.0.1:" + std::to_wstring(RAVODUZA_TEST_PORT) + L"\u2026");
        ::Sleep(1000);
        pressed = std::chrono::steady_clock::now();
        view.Press(rvdl::kCancelId);
    });
    EXPECT_EQ(run.result, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 5s);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, EscapeCancelsLikeTheButton) {
    const DownloadRun run = Run("/hang", [&](DialogView& view) {
        ::PostMessageW(view.Control(rvdl::kCancelId), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(run.result, 0);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, MovesBetweenMonitorsKeepEveryControlWhereDesigned) {
    // The places at 144 dpi, reached at once and by way of 120 and back.
    std::vector<RECT> direct;
    std::vector<RECT> roundabout;
    const DownloadRun run = Run("/hang", [&](DialogView& view) {
        const HWND dialog = view.window();
        const auto moveTo = [&](int dpi) {
            RECT suggested;
            ::GetWindowRect(dialog, &suggested);
            ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        };
        const auto places = [&] {
            std::vector<RECT> found;
            for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
                RECT place;
                ::GetWindowRect(child, &place);
                ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
                found.push_back(place);
            }
            return found;
        };
        moveTo(144);
        direct = places();
        for (int dpi : {120, 144, 120, 144}) moveTo(dpi);
        roundabout = places();
        view.Press(rvdl::kCancelId);
    });
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(roundabout.size(), direct.size());
    for (size_t i = 0; i < direct.size(); ++i)
        EXPECT_TRUE(::EqualRect(&direct[i], &roundabout[i])) << "control " << i;
}

TEST_F(DownloadLibrary, FailureRemovesAFileThatWasAlreadyThere) {
    rvztest::WriteFileBytes(target, "an older download");
    EXPECT_EQ(Run("/status/404").result, 0);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, SuccessReplacesAFileThatWasAlreadyThere) {
    rvztest::WriteFileBytes(target, "an older download");
    EXPECT_EQ(Run("/file/4000").result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 4000));
}

TEST_F(DownloadLibrary, MissingFolderFailsAsAWriteError) {
    target = folder.path() + L"missing\\tarvik.exe";
    const DownloadRun run = Run("/file/4000");
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_EQ(run.failures[0].rfind(L"The file could not be saved: ", 0), 0u)
        << rvztest::Utf8(run.failures[0]);
    ExpectNothingLeft();
}

TEST_F(DownloadLibrary, KnownSizeShowsBarFiguresSpeedAndTimeLeft) {
    std::wstring amount;
    std::wstring rate;
    LONG_PTR style = 0;
    LRESULT position = 0;
    const DownloadRun run = Run("/slow/1000000/250000", [&](DialogView& view) {
        view.WaitFor([&] { return view.Text(rvdl::kRateId).find(L"left") != std::wstring::npos; });
        amount = view.Text(rvdl::kAmountId);
        rate = view.Text(rvdl::kRateId);
        style = ::GetWindowLongPtrW(view.Control(rvdl::kProgressId), GWL_STYLE);
        position = ::SendMessageW(view.Control(rvdl::kProgressId), PBM_GETPOS, 0, 0);
    });
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 1000000));
    EXPECT_NE(amount.find(L" of 976 KB"), std::wstring::npos) << rvztest::Utf8(amount);
    EXPECT_NE(rate.find(L"KB/s \u2013 "), std::wstring::npos) << rvztest::Utf8(rate);
    EXPECT_FALSE(style & PBS_MARQUEE);
    EXPECT_GT(position, 0);
    EXPECT_LT(position, 1000);
}

TEST_F(DownloadLibrary, UnknownSizeShowsAMarqueeAndTheAmountSoFar) {
    std::wstring amount;
    LONG_PTR style = 0;
    const DownloadRun run = Run("/slow/600000/200000/nolength", [&](DialogView& view) {
        view.WaitFor([&] { return view.Text(rvdl::kAmountId).find(L"downloaded") != std::wstring::npos; });
        amount = view.Text(rvdl::kAmountId);
        style = ::GetWindowLongPtrW(view.Control(rvdl::kProgressId), GWL_STYLE);
    });
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(FileHoldsPattern(target, 600000));
    EXPECT_NE(amount.find(L" KB downloaded"), std::wstring::npos) << rvztest::Utf8(amount);
    EXPECT_TRUE(style & PBS_MARQUEE);
}

TEST_F(DownloadLibrary, DialogIsOwnedCentredAndTitled) {
    ASSERT_EQ(library.SetOption("title", "Setup - Tarvik + Demo"), 1);
    ASSERT_EQ(library.SetOption("colour", "ignored"), 0);
    const rvz::UniqueWindow owner(::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE,
                                                     100, 80, 900, 700, nullptr, nullptr, nullptr,
                                                     nullptr));
    ASSERT_TRUE(owner);
    HWND ownerSeen = nullptr;
    bool ownerDisabled = false;
    RECT dialogRect{};
    std::wstring title, heading, source;
    const DownloadRun run =
        RunDownload(library, owner.get(), ServerUrl("/hang"), target, [&](DialogView& view) {
            ownerSeen = ::GetWindow(view.window(), GW_OWNER);
            ownerDisabled = !::IsWindowEnabled(owner.get());
            ::GetWindowRect(view.window(), &dialogRect);
            title = rvztest::WindowText(view.window());
            heading = view.Text(rvdl::kHeadingId);
            source = view.Text(rvdl::kSourceId);
            view.Press(rvdl::kCancelId);
        });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(ownerSeen, owner.get());
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(::IsWindowEnabled(owner.get()));
    EXPECT_NEAR((dialogRect.left + dialogRect.right) / 2, 100 + 900 / 2, 2);
    EXPECT_NEAR((dialogRect.top + dialogRect.bottom) / 2, 80 + 700 / 2, 2);
    EXPECT_EQ(title, L"Setup - Tarvik + Demo");
    EXPECT_EQ(heading, L"Downloading tarvik.exe");
    EXPECT_EQ(source, L"from 127.0.0.1:" + std::to_wstring(RAVODUZA_TEST_PORT));
}

TEST_F(DownloadLibrary, EveryDialogHasTheThemedControlsOfTheLibrarysManifest) {
    // Each dialog activates the manifest's context anew: one released once
    // too often would leave the next dialog without it.
    for (int download = 1; download <= 2; ++download) {
        bool themed = false;
        const DownloadRun run = Run("/hang", [&](DialogView& view) {
            // Only the version 6 buttons know their ideal size.
            SIZE ideal{};
            themed = ::SendMessageW(view.Control(rvdl::kCancelId), BCM_GETIDEALSIZE, 0,
                                    reinterpret_cast<LPARAM>(&ideal)) != 0;
            view.Press(rvdl::kCancelId);
        });
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(themed) << "dialog " << download;
    }
}

TEST_F(DownloadLibrary, UnicodeFunctionsCarryNamesBeyondTheAnsiCodePage) {
    ASSERT_EQ(library.SetOptionW(L"title", L"Setup - Tarvik + \u03A9mega"), 1);
    EXPECT_EQ(library.SetOptionW(L"colour", L"red"), 0);
    const rvztest::TempFolder unicode(L"rvdl \u03A9 test");
    const std::wstring file = unicode.path() + L"tarvik.exe";
    std::wstring title;
    const DownloadRun run = RunDownloadCall(
        [&] { return library.DownloadW(nullptr, rvztest::Wide(ServerUrl("/slow/200000/100000")), file); },
        [&](DialogView& view) { title = rvztest::WindowText(view.window()); });
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(FileHoldsPattern(file, 200000));
    EXPECT_EQ(title, L"Setup - Tarvik + \u03A9mega");
    EXPECT_EQ(library.DownloadW(nullptr, L"", file), 0);
}

TEST_F(DownloadLibrary, WithoutOwnerTheDialogStandsAloneWithTheDefaultTitle) {
    // Options last as long as the module: a copy of the library is a module
    // that no other test has given a title.
    const std::wstring copy = folder.path() + L"fresh\\RAVoduza_Download.dll";
    ASSERT_TRUE(::CreateDirectoryW((folder.path() + L"fresh").c_str(), nullptr));
    rvztest::CopyFileOrThrow(DistFolder() + L"RAVoduza_Download.dll", copy);
    HWND ownerSeen = reinterpret_cast<HWND>(1);
    std::wstring title;
    {
        const Library fresh(copy);
        // A quick failure: no worker outlives the test and holds the copy.
        RunDownload(fresh, nullptr, ServerUrl("/status/404"), target, [&](DialogView& view) {
            ownerSeen = ::GetWindow(view.window(), GW_OWNER);
            title = rvztest::WindowText(view.window());
            view.Press(rvdl::kCancelId);
        });
    }
    EXPECT_EQ(ownerSeen, nullptr);
    EXPECT_EQ(title, L"Download");
}

// Reads the dialog's texts for a language option, then cancels.
struct DialogTexts {
    std::wstring heading, amount, cancel, retry, failure;
    std::vector<int> order;  // the controls in tab and reading order
};

DialogTexts TextsFor(const Library& library, const std::wstring& language,
                     const std::wstring& target) {
    library.SetOption("language", rvz::ToAnsi(language).c_str());
    DialogTexts texts;
    RunDownload(library, nullptr, ServerUrl("/status/404"), target, [&](DialogView& view) {
        texts.failure = view.WaitForFailure();
        texts.heading = view.Text(rvdl::kHeadingId);
        texts.cancel = view.Text(rvdl::kCancelId);
        texts.retry = view.Text(rvdl::kRetryId);
        for (HWND child = ::GetWindow(view.window(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            texts.order.push_back(::GetDlgCtrlID(child));
        view.Press(rvdl::kCancelId);
    });
    return texts;
}

TEST_F(DownloadLibrary, GermanLanguageFileGivesGermanTexts) {
    const DialogTexts texts = TextsFor(library, DistFolder() + L"RAVoduza_de.ini", target);
    EXPECT_EQ(texts.heading, L"Der Download von tarvik.exe ist fehlgeschlagen");
    EXPECT_EQ(texts.failure, L"Die Datei wurde auf dem Server nicht gefunden (404 Nicht gefunden).");
    EXPECT_EQ(texts.cancel, L"Abbrechen");
    EXPECT_EQ(texts.retry, L"&Wiederholen");
}

TEST_F(DownloadLibrary, EnglishLanguageFileGivesEnglishTexts) {
    const DialogTexts texts = TextsFor(library, DistFolder() + L"RAVoduza_en.ini", target);
    EXPECT_EQ(texts.heading, L"The download of tarvik.exe failed");
    EXPECT_EQ(texts.cancel, L"Cancel");
    EXPECT_EQ(texts.retry, L"&Retry");
    // The failure's own controls, made when it came, sit where they are read.
    EXPECT_EQ(texts.order, (std::vector<int>{rvdl::kHeadingId, rvdl::kSourceId, rvdl::kProgressId,
                                             rvdl::kAmountId, rvdl::kRateId, rvdl::kMessageId,
                                             rvdl::kRetryId, rvdl::kCancelId}));
}

TEST_F(DownloadLibrary, MissingLanguageFileFallsBackToEnglish) {
    const DialogTexts texts = TextsFor(library, DistFolder() + L"RAVoduza_xx.ini", target);
    EXPECT_EQ(texts.heading, L"The download of tarvik.exe failed");
    EXPECT_EQ(texts.failure, L"The file was not found on the server (404 Not Found).");
    EXPECT_EQ(texts.cancel, L"Cancel");
}

TEST_F(DownloadLibrary, LargeFileArrivesWithFlatMemory) {
    constexpr uint64_t kSize = 400ULL * 1000 * 1000;
    ASSERT_EQ(Run("/file/100000").result, 1);  // WinINet and the dialog are loaded now
    const size_t before = PeakWorkingSet();
    const DownloadRun run = Run("/file/" + std::to_string(kSize));
    const size_t growth = PeakWorkingSet() - before;
    EXPECT_EQ(run.result, 1);
    // Chunks stream through a fixed buffer: the peak hardly moves, whereas
    // holding the file (or WinINet caching it) would add hundreds of MB.
    EXPECT_LT(growth, 32u << 20) << "peak working set grew by " << (growth >> 20) << " MB";
    EXPECT_TRUE(FileHoldsPattern(target, kSize));
}

}  // namespace
}  // namespace rvdltest
