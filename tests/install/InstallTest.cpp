// The install and cancel actions end to end: the real test loader and its
// wizard, the stand-in library (whose "download" copies the stand-in setup),
// the stand-in setup in each of its modes, and the stand-in product.
#include "LoaderRun.h"
#include "basFiles.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <map>

namespace rvztest {
namespace {

// The work directories ("tkt*.tmp") in a temporary folder.
std::vector<std::wstring> WorkDirectories(const std::wstring& temp = LoaderTempPath()) {
    std::vector<std::wstring> found;
    for (const std::wstring& name : ListFolder(temp))
        if (name.rfind(L"tkt", 0) == 0 && PathExists(temp + name + L"\\")) found.push_back(name);
    std::sort(found.begin(), found.end());
    return found;
}

HWND FindCheckBox(HWND wizard) {
    HWND found = nullptr;
    ::EnumChildWindows(
        wizard,
        [](HWND child, LPARAM context) CALLBACK -> BOOL {
            const LONG type = ::GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
            if (ClassName(child) == L"Button" && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX)) {
                *reinterpret_cast<HWND*>(context) = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND WaitForWindowTitled(const std::wstring& title) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = ::FindWindowW(nullptr, title.c_str())) != nullptr; });
    return found;
}

class Install : public ::testing::Test {
protected:
    Install() : run(kDemoConfig) {
        CopyFileOrThrow(BuildFolder() + L"tests\\fixtures\\tarvik_standin.exe",
                        run.folder() + L"rvdl_source.bin");
        workDirectoriesBefore = WorkDirectories();
    }

    // Starts the loader with the setup in the given mode; returns the wizard.
    HWND StartLoader(const std::wstring& setupMode = L"install",
                     std::vector<std::wstring> environment = {}) {
        environment.insert(environment.end(), {L"RVZ_SETUP_MODE=" + setupMode,
                                               L"RVZ_SETUP_LOG=" + SetupLog(),
                                               L"RVZ_SETUP_TARGET=" + Target()});
        Process& loader = run.Start(L"", nullptr, environment);
        HWND wizard = WaitForWindow(loader.id());
        EXPECT_NE(wizard, nullptr);
        return wizard;
    }

    DWORD WaitForEnd() {
        EXPECT_TRUE(run.process().Wait(60s));
        return run.process().ExitCode();
    }

    std::wstring SetupLog() const { return run.folder() + L"setup.log"; }
    std::wstring Target() const { return run.folder() + L"Program Files\\Tarvik App\\"; }
    std::wstring Product() const { return Target() + L"tarvik.exe"; }

    // The work directory the setup ran from, read from the setup's own log.
    std::wstring WorkDirectoryOfSetup() const {
        const auto lines = ReadLines(SetupLog());
        if (lines.empty()) return {};
        const std::wstring line = Wide(lines.front());
        return line.substr(1, line.find(L"\\tarvik.exe") - 1);
    }

    void ExpectNoWorkDirectoryLeft() { EXPECT_EQ(WorkDirectories(), workDirectoriesBefore); }

    ScopedInstallRecord record;
    LoaderRun run;
    std::vector<std::wstring> workDirectoriesBefore;
};

TEST_F(Install, WholeRoadWithAutostart) {
    HWND wizard = StartLoader();
    PressButton(wizard, IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);

    const std::wstring work = WorkDirectoryOfSetup();
    EXPECT_EQ(work.rfind(LoaderTempPath() + L"tkt", 0), 0u) << Utf8(work);
    EXPECT_EQ(ReadLines(SetupLog()),
              std::vector<std::string>{"\"" + Utf8(work) + "\\tarvik.exe\" /silent /norestart /mergetasks=autostart"});
    ASSERT_EQ(run.LibraryCalls().size(), 3u);
    EXPECT_EQ(run.LibraryCalls()[2], "Download|0|http://127.0.0.1:" RAVODUZA_TEST_PORT "/tarvik.exe|" +
                                         Utf8(work) + "\\tarvik.exe");
    // The product is started once, after the loader's own end at the latest.
    EXPECT_EQ(ProductStarts(Product()), std::vector<std::string>{"\"" + Utf8(Target()) + "tarvik.exe\" /app:Demo"});
    EXPECT_EQ(record.Read(), Target() + L"tarvik.exe");
    EXPECT_FALSE(PathExists(work));
    ExpectNoWorkDirectoryLeft();
}

// The box cleared by a click, or by its access key as a user at the
// keyboard would, deselects the task; each start installs once more.
TEST_F(Install, ClearedBoxDeselectsAutostart) {
    const struct {
        const char* how;
        void (*clear)(HWND wizard, HWND box);
    } ways[] = {
        {"a click", [](HWND, HWND box) { ::PostMessageW(box, BM_CLICK, 0, 0); }},
        {"Alt+A", [](HWND wizard, HWND) { ::PostMessageW(wizard, WM_SYSCHAR, 'a', 1 << 29); }},
    };
    size_t starts = 0;
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        record.Remove();  // not installed yet, for the wizard to show
        HWND wizard = StartLoader();
        HWND box = FindCheckBox(wizard);
        ASSERT_NE(box, nullptr);
        way.clear(wizard, box);
        ASSERT_TRUE(WaitUntil([&] { return ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_UNCHECKED; }));
        PressButton(wizard, IDOK);
        EXPECT_EQ(WaitForEnd(), 0u);
        const auto setupRuns = ReadLines(SetupLog());
        ASSERT_EQ(setupRuns.size(), ++starts);
        EXPECT_NE(setupRuns.back().find("\" /silent /norestart /mergetasks=!autostart"), std::string::npos);
        EXPECT_EQ(ProductStarts(Product(), starts).size(), starts);
    }
}

TEST_F(Install, SlowSetupIsWaitedFor) {
    PressButton(StartLoader(L"slow"), IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    EXPECT_EQ(ProductStarts(Product()).size(), 1u);
    ExpectNoWorkDirectoryLeft();
}

TEST_F(Install, FailedDownloadEndsSilentlyAndLeavesNothing) {
    ::DeleteFileW((run.folder() + L"rvdl_source.bin").c_str());
    PressButton(StartLoader(), IDOK);
    EXPECT_EQ(WaitForEnd(), 4u);
    EXPECT_FALSE(PathExists(SetupLog())) << "no setup was run";
    ExpectNoWorkDirectoryLeft();
}

TEST_F(Install, SetupThatFailsOrCrashesEndsSilently) {
    for (const wchar_t* mode : {L"fail", L"crash"}) {
        SCOPED_TRACE(Utf8(mode));
        PressButton(StartLoader(mode), IDOK);
        EXPECT_EQ(WaitForEnd(), 5u);
        EXPECT_FALSE(PathExists(Target() + L"product.log")) << "product not started";
        EXPECT_EQ(record.Read(), L"");
        ExpectNoWorkDirectoryLeft();
        ::DeleteFileW(SetupLog().c_str());
    }
}

TEST_F(Install, SetupCancelledInItsOwnWindowEndsSilently) {
    PressButton(StartLoader(L"window"), IDOK);
    HWND setupWindow = WaitForWindowTitled(L"Tarvik Setup");
    ASSERT_NE(setupWindow, nullptr);
    EXPECT_TRUE(run.process().Running()) << "the loader waits for its setup";
    EXPECT_FALSE(::IsWindowVisible(::FindWindowW(nullptr, L"Setup - Tarvik + Demo")))
        << "the wizard stays hidden";
    PressButton(setupWindow, IDCANCEL);
    EXPECT_EQ(WaitForEnd(), 5u);
    EXPECT_FALSE(PathExists(Target() + L"product.log"));
    ExpectNoWorkDirectoryLeft();
}

TEST_F(Install, SetupThatLeavesFilesStillStartsTheProduct) {
    PressButton(StartLoader(L"leave-files"), IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    EXPECT_EQ(ProductStarts(Product()).size(), 1u);
    EXPECT_FALSE(PathExists(WorkDirectoryOfSetup()));
    ExpectNoWorkDirectoryLeft();
}

// A temporary folder that is a file: no work directory can be made there.
TEST_F(Install, ErrorInAStepShowsTheErrorMessageAndEnds) {
    // The Windows folder's Temp is a file for this test's while.
    const std::wstring temp = LoaderTempPath();
    const std::wstring notAFolder = temp.substr(0, temp.size() - 1);
    const std::wstring aside = notAFolder + L".rvz-aside";
    ASSERT_TRUE(::MoveFileW(notAFolder.c_str(), aside.c_str()));
    const rvz::ScopeExit back([&] {
        ::DeleteFileW(notAFolder.c_str());
        ::MoveFileW(aside.c_str(), notAFolder.c_str());
    });
    WriteFileBytes(notAFolder, "a file");
    HWND wizard = StartLoader();
    PressButton(wizard, IDOK);
    const MessageBoxSeen box = WaitForMessageBox(run.process().id());
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.title, L"Tarvik Loader");
    // The message fixed for every install error, then the line that says what to mend.
    EXPECT_EQ(SplitRoadMessage(box.text).message,
              GermanInterface() ? L"Bei der Installation ist ein Fehler aufgetreten!\r\n"
                                  L"Der tempor\u00e4re Ordner kann nicht verwendet werden: " + notAFolder + L"\\"
                                : L"An error occured during the installation!\r\n"
                                  L"The temporary folder cannot be used: " + notAFolder + L"\\");
    EXPECT_NE(::GetDlgItem(box.window, IDOK), nullptr);
    EXPECT_EQ(::GetDlgItem(box.window, IDCANCEL), nullptr) << "OK is the only button";
    EXPECT_FALSE(::IsWindowVisible(wizard));
    PressButton(box.window, IDOK);
    EXPECT_EQ(WaitForEnd(), 6u);
}

// The setup wrote a record naming no program: nothing is installed, nothing started.
TEST_F(Install, SetupThatRecordsAMissingProgramEndsSilently) {
    PressButton(StartLoader(L"bad-position"), IDOK);
    EXPECT_EQ(WaitForEnd(), 5u);
    EXPECT_TRUE(TopLevelWindows(run.process().id()).empty());
    EXPECT_TRUE(ProductStarts(Product(), 0).empty());
    ExpectNoWorkDirectoryLeft();
}

// The download is no program at all: the user is told, with the system's reason.
TEST_F(Install, SetupThatCannotStartIsReported) {
    WriteFileBytes(run.folder() + L"rvdl_source.bin", "<html>not a program</html>");
    PressButton(StartLoader(), IDOK);
    const MessageBoxSeen box = WaitForMessageBox(run.process().id());
    ASSERT_NE(box.window, nullptr);
    const RoadMessage shown = SplitRoadMessage(box.text);
    EXPECT_EQ(shown.message.rfind(GermanInterface() ? L"Das Installationsprogramm konnte nicht gestartet werden:"
                                                    : L"The setup program could not be started:", 0), 0u)
        << Utf8(box.text);
    EXPECT_NE(shown.message.find(L"\\tarvik.exe\r\n"), std::wstring::npos) << Utf8(box.text);
    EXPECT_FALSE(shown.logPath.empty()) << "the box names the run's log";
    PressButton(box.window, IDOK);
    EXPECT_EQ(WaitForEnd(), 8u);
    ExpectNoWorkDirectoryLeft();
}

// A virus scanner holds the fresh setup for two seconds: the start is tried again.
TEST_F(Install, SetupHeldByAScannerStartsOnceReleased) {
    PressButton(StartLoader(L"install", {L"RVZ_SCANNER=" + BuildFolder() + L"tests\\fixtures\\file_holder.exe"}),
                IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    EXPECT_EQ(ReadLines(SetupLog()).size(), 1u);
    const auto calls = run.LibraryCalls();
    const std::string held = "Held|" + Utf8(WorkDirectoryOfSetup()) + "\\tarvik.exe";
    EXPECT_TRUE(std::find(calls.begin(), calls.end(), held) != calls.end()) << "the scanner never held the setup";
    EXPECT_EQ(ProductStarts(Product()).size(), 1u);
    ExpectNoWorkDirectoryLeft();
}

// The whole road with a real installer (NSIS): it installs into a folder
// with blanks and writes a quoted record; the run's log tells the story.
TEST_F(Install, RealInstallerInstallsAndTheProductStarts) {
    const std::wstring installed = NsisSetupFolder();
    RemoveTree(installed);
    const rvz::ScopeExit uninstall([&] { RemoveTree(installed); });
    CopyFileOrThrow(BuildFolder() + L"tests\\fixtures\\tarvik_nsis_setup.exe", run.folder() + L"rvdl_source.bin");
    // With the box as it opens, then cleared: the installer takes the task as given.
    for (const bool autostart : {true, false}) {
        SCOPED_TRACE(autostart ? "autostart" : "no autostart");
        record.Remove();  // not installed yet, for the wizard to show
        const auto logsBefore = ListFolder(LoaderTempPath());
        HWND wizard = StartLoader();
        if (!autostart) ::PostMessageW(FindCheckBox(wizard), BM_CLICK, 0, 0);
        PressButton(wizard, IDOK);
        EXPECT_EQ(WaitForEnd(), 0u);
        EXPECT_EQ(record.Read(L"Tasks"), autostart ? L"autostart" : L"!autostart");

        const std::wstring position = record.Read();
        ASSERT_EQ(position.rfind(L'"', 0), 0u) << Utf8(position);
        const std::wstring program = position.substr(1, position.size() - 2);
        EXPECT_NE(program.find(L"\\Tarvik by Brisolt\\tarvik.exe"), std::wstring::npos) << Utf8(program);
        const std::vector<std::string> starts = ProductStarts(program, autostart ? 1 : 2);
        EXPECT_EQ(starts.back(), "\"" + Utf8(program) + "\" /app:Demo");

        std::wstring log;
        for (const std::wstring& name : ListFolder(LoaderTempPath()))
            if (IsRunLog(name) && std::find(logsBefore.begin(), logsBefore.end(), name) == logsBefore.end())
                log = LoaderTempPath() + name;
        ASSERT_FALSE(log.empty()) << "the run left its log";
        std::string text;
        for (const std::string& line : ReadLines(log)) text += line + "\n";
        // No desktop shell runs on the bare virtual display: the loader's own token.
        for (const std::string& step : {std::string("Download from http://127.0.0.1:"),
                                       std::string("/silent /norestart /mergetasks=") + (autostart ? "autostart" : "!autostart"),
                                       std::string("Setup ended with exit code 0"),
                                       std::string("Product started with the loader's own rights (no desktop shell runs): \""),
                                       std::string("Outcome: exit code 0")})
            EXPECT_NE(text.find(step), std::string::npos) << step << " in\n" << text;
    }
}

// Tarvik belongs to the user at the desktop: where a shell runs, the loader
// starts it with the shell's token, never with its own elevated one.
TEST_F(Install, ProductStartsAsTheDesktopUserWhenAShellRuns) {
    const std::wstring ready = run.folder() + L"shell ready.txt";
    const Process shell(Quoted(BuildFolder() + L"tests\\fixtures\\standin_shell.exe") + L" " + Quoted(ready));
    ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(ready) == "ready"; }));
    const auto logsBefore = ListFolder(LoaderTempPath());
    PressButton(StartLoader(), IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    EXPECT_EQ(ProductStarts(Product()), std::vector<std::string>{"\"" + Utf8(Target()) + "tarvik.exe\" /app:Demo"});
    std::string text;
    for (const std::wstring& name : ListFolder(LoaderTempPath()))
        if (IsRunLog(name) && std::find(logsBefore.begin(), logsBefore.end(), name) == logsBefore.end())
            text = ReadFileBytes(LoaderTempPath() + name);
    EXPECT_NE(text.find("Product started as the desktop user: \"" + Utf8(Target()) + "tarvik.exe\" /app:Demo"),
              std::string::npos)
        << text;
}

// A loader built to run only the vendor's setup: signed by "Brisolt GmbH"
// with key A. What else arrives is refused with its reason and not started.
TEST_F(Install, OnlyTheExpectedPublishersSetupRuns) {
    run.UseLoader(L"tests\\checkingdist\\RAVoduza.exe");
    const bool german = GermanInterface();
    const struct {
        const wchar_t* file;
        const wchar_t* reason;  // part of the message, in the interface's language
    } refused[] = {
        {L"unsigned.exe", german ? L"nicht signiert" : L"not signed"},
        {L"damaged.exe", german ? L"nach dem Signieren" : L"changed after signing"},
        {L"other_publisher.exe", german ? L"anderen Herausgeber signiert: Other Vendor"
                                        : L"another publisher: Other Vendor"},
        {L"other_key.exe", german ? L"anderen Schl\u00fcssel" : L"another key"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(Utf8(c.file));
        CopyFileOrThrow(BuildFolder() + L"tests\\signing\\" + c.file, run.folder() + L"rvdl_source.bin");
        PressButton(StartLoader(), IDOK);
        const MessageBoxSeen box = WaitForMessageBox(run.process().id());
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.title, L"Tarvik Loader");
        EXPECT_NE(box.text.find(c.reason), std::wstring::npos) << Utf8(box.text);
        PressButton(box.window, IDOK);
        EXPECT_EQ(WaitForEnd(), 10u);
        EXPECT_FALSE(PathExists(SetupLog())) << "the setup was not started";
        ExpectNoWorkDirectoryLeft();
    }

    CopyFileOrThrow(BuildFolder() + L"tests\\signing\\signed.exe", run.folder() + L"rvdl_source.bin");
    PressButton(StartLoader(), IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    EXPECT_EQ(ProductStarts(Product()).size(), 1u);
    ExpectNoWorkDirectoryLeft();
}

TEST_F(Install, CancelAnsweredNoLeavesTheWizardUsable) {
    HWND wizard = StartLoader();
    PressButton(wizard, IDCANCEL);
    MessageBoxSeen question = WaitForMessageBox(run.process().id());
    ASSERT_NE(question.window, nullptr);
    EXPECT_EQ(question.title, L"Setup - Tarvik + Demo");
    PressButton(question.window, IDNO);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(question.window); }));
    EXPECT_TRUE(::IsWindowVisible(wizard));

    PressButton(wizard, IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    EXPECT_EQ(ProductStarts(Product()).size(), 1u);
}

// Whether a button is of the system's classic class, which draws no shield,
// rather than one of the version 6 common controls.
bool IsClassicButton(HWND button) {
    const rvz::UniqueWindow classic(
        ::CreateWindowExW(0, L"BUTTON", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    return ::GetClassLongW(button, GCW_ATOM) == ::GetClassLongW(classic.get(), GCW_ATOM);
}

// A build that asks for rights only to install: Install starts the same
// loader elevated with one argument, the autostart choice; that part does
// the setup, and the loader that asked starts Tarvik. An elevated part that
// cannot be started (a declined prompt; Wine asks none, so here the loader's
// file is away for a moment) says that rights are needed and returns to the
// wizard. Once installed, nothing is asked for.
TEST_F(Install, ABuildThatAsksForRightsOnlyToInstall) {
    run.UseLoader(L"tests\\installdist\\RAVoduza.exe");
    const auto logsBefore = ListFolder(LoaderTempPath());
    HWND wizard = StartLoader();
    EXPECT_FALSE(IsClassicButton(::GetDlgItem(wizard, IDOK))) << "Install cannot draw the shield";
    const std::wstring away = run.loaderPath() + L".away";
    ASSERT_TRUE(::MoveFileW(run.loaderPath().c_str(), away.c_str()));
    PressButton(wizard, IDOK);
    const MessageBoxSeen box = WaitForMessageBox(run.process().id());
    EXPECT_EQ(SplitRoadMessage(box.text).message,
              GermanInterface() ? L"Sie ben\u00f6tigen Administrator-Rechte um diese Anwendung zu installieren!"
                                : L"You need administrator privileges to install this application!");
    ASSERT_TRUE(::MoveFileW(away.c_str(), run.loaderPath().c_str()));
    PressButton(box.window, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box.window); }));
    wizard = WaitForWindow(run.process().id());
    ASSERT_NE(wizard, nullptr) << "the wizard did not come back";
    PressButton(wizard, IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);

    EXPECT_EQ(ReadLines(SetupLog()),
              std::vector<std::string>{"\"" + Utf8(WorkDirectoryOfSetup()) + "\\tarvik.exe\" /silent /norestart /mergetasks=autostart"});
    EXPECT_EQ(ProductStarts(Product()), std::vector<std::string>{"\"" + Utf8(Target()) + "tarvik.exe\" /app:Demo"});
    // Two logs: the loader's, and its elevated part's, started with its one argument.
    std::string elevated;
    for (const std::wstring& name : ListFolder(LoaderTempPath()))
        if (IsRunLog(name) && std::find(logsBefore.begin(), logsBefore.end(), name) == logsBefore.end()) {
            const std::string text = ReadFileBytes(LoaderTempPath() + name);
            if (text.find("Elevated part: install") != std::string::npos) elevated = text;
        }
    EXPECT_NE(elevated.find("\"" + Utf8(run.loaderPath()) + "\" /elevated-install:autostart"), std::string::npos)
        << elevated;
    EXPECT_NE(elevated.find("Setup ended with exit code 0"), std::string::npos) << elevated;

    // Installed: started again, it starts Tarvik and asks for nothing.
    const auto logsInstalled = ListFolder(LoaderTempPath());
    Process& again = run.Start();
    ASSERT_TRUE(again.Wait());
    EXPECT_EQ(again.ExitCode(), 0u);
    EXPECT_EQ(ProductStarts(Product(), 2).size(), 2u);
    EXPECT_EQ(ListFolder(LoaderTempPath()), logsInstalled) << "an elevated part ran";
    ExpectNoWorkDirectoryLeft();
}

// The message box of a process that the given one started: the elevated
// part's, which the loader that asked waits for.
MessageBoxSeen WaitForChildsMessageBox(DWORD parentId) {
    MessageBoxSeen seen;
    WaitUntil([&] {
        const rvz::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
            if (entry.th32ParentProcessID == parentId &&
                (seen = WaitForMessageBox(entry.th32ProcessID, std::chrono::milliseconds(0))).window)
                return true;
        return false;
    });
    return seen;
}

// In such a build the elevated part's end is the loader's: a failed download
// (the library said why), a setup that failed, and one that cannot start
// (the elevated part says so) end the road as they do where the loader
// installs itself.
TEST_F(Install, TheElevatedPartsEndIsTheLoaders) {
    run.UseLoader(L"tests\\installdist\\RAVoduza.exe");
    const std::string standIn = ReadFileBytes(BuildFolder() + L"tests\\fixtures\\tarvik_standin.exe");
    const struct {
        const char* name;
        std::string served;  // nothing: no setup on the server
        const wchar_t* setupMode;
        const wchar_t* message;  // the start of what the elevated part shows, if anything
        DWORD exitCode;
    } rows[] = {
        {"download failed", "", L"install", nullptr, 4u},
        {"setup failed", standIn, L"fail", nullptr, 5u},
        {"setup cannot start", "<html>not a program</html>", L"install",
         L"The setup program could not be started:", 8u},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.served.empty()) ::DeleteFileW((run.folder() + L"rvdl_source.bin").c_str());
        else WriteFileBytes(run.folder() + L"rvdl_source.bin", row.served);
        PressButton(StartLoader(row.setupMode), IDOK);
        if (row.message) {
            const MessageBoxSeen box = WaitForChildsMessageBox(run.process().id());
            ASSERT_NE(box.window, nullptr) << "the elevated part showed nothing";
            EXPECT_EQ(box.text.rfind(row.message, 0), 0u) << Utf8(box.text);
            PressButton(box.window, IDOK);
        }
        EXPECT_EQ(WaitForEnd(), row.exitCode);
        EXPECT_TRUE(ProductStarts(Product(), 0).empty());
        EXPECT_EQ(record.Read(), L"");
        ExpectNoWorkDirectoryLeft();
    }
}

// Only the one fixed argument of a build that asks for rights only to
// install starts an elevated part, and only one at a time: anything else, and
// that argument to the default build, is a loader started as ever.
TEST_F(Install, OnlyTheOneArgumentOfTheInstallBuildStartsAnElevatedPart) {
    const struct {
        const char* name;
        const wchar_t* loader;  // another build, or the default one
        const wchar_t* arguments;
        bool partRuns;  // another elevated part holds its lock
        DWORD exitCode;
    } rows[] = {
        {"the default build", nullptr, L"/elevated-install:autostart", false, 7u},
        {"another argument after it", L"tests\\installdist\\RAVoduza.exe", L"/elevated-install:autostart /x", false, 7u},
        {"in capitals", L"tests\\installdist\\RAVoduza.exe", L"/ELEVATED-INSTALL:AUTOSTART", false, 7u},
        {"while an elevated part runs", L"tests\\installdist\\RAVoduza.exe", L"/elevated-install:autostart", true, 9u},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.loader) run.UseLoader(row.loader);
        const rvz::UniqueHandleKernel otherPart(
            row.partRuns ? ::CreateMutexW(nullptr, FALSE, L"Local\\RAVoduza.ElevatedPart") : nullptr);
        Process& loader = run.Start(L"", nullptr,
                                    {L"RVZ_SETUP_LOG=" + SetupLog(), L"RVZ_SETUP_TARGET=" + Target()}, row.arguments);
        if (!row.partRuns) {
            HWND wizard = WaitForWindow(loader.id());
            ASSERT_NE(wizard, nullptr) << "no wizard";
            ::PostMessageW(wizard, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(WaitForEnd(), row.exitCode);
        EXPECT_TRUE(ReadLines(SetupLog()).empty()) << "a setup ran";
        EXPECT_EQ(record.Read(), L"");
    }
}

// A folder's files and folders, each with its bytes and attributes.
std::map<std::wstring, std::pair<std::string, DWORD>> Snapshot(const std::wstring& folder) {
    std::map<std::wstring, std::pair<std::string, DWORD>> files;
    for (const WIN32_FIND_DATAW& entry : rvz::FindEntries(folder + L"*")) {
        const std::wstring path = folder + entry.cFileName;
        files[entry.cFileName] = {ReadFileBytes(path), entry.dwFileAttributes};
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            for (const auto& [name, file] : Snapshot(path + L"\\"))
                files[std::wstring(entry.cFileName) + L"\\" + name] = file;
    }
    return files;
}

// What an unelevated program of the user may try against the elevated
// loader, before and while it installs. Its folder stands in for the user's
// temporary folder; a program is planted there and in every place it fakes.
struct Attacker {
    TempFolder folder{L"rvz attacker"};
    TempFolder victim{L"rvz victim"};
    std::vector<std::wstring> environment;
    std::wstring currentFolder;
    std::string config = kDemoConfig;
    std::vector<std::wstring> planted;  // where a program of the attacker's lies
    std::vector<std::wstring> entriesBefore = ListFolder(LoaderTempPath());  // of the loader's folder
    int attempts = 0;                  // tries while the loader held the setup
    std::vector<std::string> changes;  // what of them changed the setup

    Attacker() {
        WriteFileBytes(victim.path() + L"precious.txt", "precious");
        WriteFileBytes(victim.path() + L"read-only.txt", "read-only");
        ::SetFileAttributesW((victim.path() + L"read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        Plant(folder.path());
    }
    // What it made in the loader's folder goes before the victim does.
    ~Attacker() {
        for (const std::wstring& where : planted)
            if (where.rfind(LoaderTempPath(), 0) == 0) RemoveTree(where);
        for (const std::wstring& name : ListFolder(LoaderTempPath()))
            if (name.rfind(L"RAVoduza-2000", 0) == 0) RemoveTree(LoaderTempPath() + name);
        ::SetFileAttributesW((victim.path() + L"read-only.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    void Plant(const std::wstring& where) {
        CopyFileOrThrow(BuildFolder() + L"tests\\fixtures\\tarvik_standin.exe", where + L"tarvik.exe");
        planted.push_back(where);
    }
    // A marked work directory made by the user, leading to the victim.
    void FakeWorkDirectory(const std::wstring& name) {
        const std::wstring fake = LoaderTempPath() + name + L"\\";
        // What an earlier run may have left, a link whose target is gone included.
        if (PathExists(fake)) {
            RunUnix(L"/bin/rm", L"-rf " + Quoted(UnixPath(fake)));
            ASSERT_TRUE(WaitUntil([&] { return !PathExists(fake); }, 5s));
        }
        ASSERT_TRUE(::CreateDirectoryW(fake.c_str(), nullptr));
        WriteFileBytes(fake + L"RAVoduza.lock", "");
        MakeFolderLink(victim.path(), fake + L"link");
        ASSERT_TRUE(::CreateHardLinkW((fake + L"hard.txt").c_str(), (victim.path() + L"read-only.txt").c_str(), nullptr));
        Plant(fake);
    }
    // The loader's log of this run, once it has one.
    std::wstring RunLogPath() const {
        for (const std::wstring& name : ListFolder(LoaderTempPath()))
            if (IsRunLog(name) && std::find(entriesBefore.begin(), entriesBefore.end(), name) == entriesBefore.end())
                return LoaderTempPath() + name;
        return {};
    }
    // Whether the log says the setup is held: it arrived, and has not ended
    // (the loader writes its end while it still holds it).
    bool SetupHeld() const {
        const std::wstring log = RunLogPath();
        const std::string told = log.empty() ? std::string() : ReadFileBytes(log);
        return told.find("Download: the setup arrived") != std::string::npos &&
               told.find("Setup ended") == std::string::npos;
    }
    // While the loader holds the downloaded setup, from its arrival to the
    // setup's end: change it, delete it, replace it, rename its folder. A try
    // counts only when the log says the setup was held before and after it.
    void RaceTheSetup() {
        if (!SetupHeld()) return;
        for (const std::wstring& name : ListFolder(LoaderTempPath())) {
            const std::wstring work = LoaderTempPath() + name;
            const std::wstring setup = work + L"\\tarvik.exe";
            if (name.rfind(L"tkt", 0) != 0 || !PathExists(setup) ||
                std::find(entriesBefore.begin(), entriesBefore.end(), name) != entriesBefore.end() ||
                std::find(planted.begin(), planted.end(), work + L"\\") != planted.end())
                continue;
            const char* changed = nullptr;
            if (rvz::UniqueFile(::CreateFileW(setup.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr)))
                changed = "opened for writing";
            else if (::DeleteFileW(setup.c_str()))
                changed = "deleted";
            else if (::MoveFileExW((folder.path() + L"tarvik.exe").c_str(), setup.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
                changed = "replaced";
            else if (::MoveFileW(work.c_str(), (work + L".old").c_str()))
                changed = "its folder renamed";
            if (!SetupHeld()) continue;
            ++attempts;
            if (changed) changes.push_back(changed);
        }
    }
    // Whatever the loader writes into the temporary folder, rewritten.
    void RewriteNewFiles() {
        for (const std::wstring& name : ListFolder(folder.path()))
            if (name != L"tarvik.exe")
                WriteFileBytes(folder.path() + name, "[Loader]\r\nAppName=Evil\r\nGridCommand=/evil\r\n");
    }
};

// Every attack leaves the victim as it was and runs nothing planted; the
// install works as ever, from a work directory of the loader's own.
TEST(Attacks, NothingOutsideChangesAndNothingPlantedRuns) {
    const struct {
        const char* name;
        std::function<void(Attacker&)> before;
        std::function<void(Attacker&)> during;
        std::function<void(Attacker&)> after;
    } attacks[] = {
        {"TMP and TEMP name the attacker's folder",
         [](Attacker& a) { a.environment = {L"TMP=" + a.folder.path(), L"TEMP=" + a.folder.path()}; },
         nullptr,
         [](Attacker& a) { EXPECT_EQ(ListFolder(a.folder.path()), std::vector<std::wstring>{L"tarvik.exe"}); }},
        {"the temporary folder is a link to the victim",
         [](Attacker& a) {
             MakeFolderLink(a.victim.path(), a.folder.path() + L"Temp");
             a.environment = {L"TMP=" + a.folder.path() + L"Temp", L"TEMP=" + a.folder.path() + L"Temp"};
         },
         nullptr, nullptr},
        {"marked work directories of the user's, with links and a hard link to the victim",
         [](Attacker& a) {
             a.FakeWorkDirectory(L"tkt0000beef.tmp");
             a.FakeWorkDirectory(L"tkt1.tmp");
         },
         nullptr,
         [](Attacker&) {
             for (const wchar_t* name : {L"tkt0000beef.tmp\\", L"tkt1.tmp\\"})
                 EXPECT_EQ(ListFolder(LoaderTempPath() + name).size(), 4u) << Utf8(name);
         }},
        {"old logs by the loader's names: a link, a hard link and files of the user's",
         [](Attacker& a) {
             MakeFolderLink(a.victim.path(), LoaderTempPath() + L"RAVoduza-20000101-000000.log");
             ASSERT_TRUE(::CreateHardLinkW((LoaderTempPath() + L"RAVoduza-20000101-000000-2.log").c_str(),
                                           (a.victim.path() + L"precious.txt").c_str(), nullptr));
             for (int day = 2; day <= 10; ++day)
                 WriteFileBytes(LoaderTempPath() + L"RAVoduza-200001" + (day < 10 ? L"0" : L"") +
                                    std::to_wstring(day) + L"-000000.log",
                                "the user's");
         },
         nullptr,
         [](Attacker&) {
             for (const wchar_t* name : {L"RAVoduza-20000101-000000.log", L"RAVoduza-20000101-000000-2.log",
                                         L"RAVoduza-20000102-000000.log"})
                 EXPECT_TRUE(PathExists(LoaderTempPath() + name)) << Utf8(name);
         }},
        {"the downloaded setup raced while it is held",
         [](Attacker& a) { a.environment = {L"RVZ_SETUP_MODE=slow"}; },
         [](Attacker& a) { a.RaceTheSetup(); },
         [](Attacker& a) {
             EXPECT_GT(a.attempts, 0) << "the race never met the held setup";
             EXPECT_EQ(a.changes, std::vector<std::string>{});
         }},
        {"a UTF-8 configuration with a mark, and every new file in the temporary folder rewritten",
         [](Attacker& a) {
             a.config = "\xEF\xBB\xBF" + a.config;
             a.environment = {L"TMP=" + a.folder.path(), L"TEMP=" + a.folder.path()};
         },
         [](Attacker& a) { a.RewriteNewFiles(); }, nullptr},
        {"started from the attacker's folder",
         [](Attacker& a) {
             a.currentFolder = a.folder.path();
             a.environment = {L"RVZ_SETUP_FOLDER_LOG=" + a.folder.path() + L"setup folder.log"};
         },
         nullptr,
         [](Attacker& a) {
             const auto folders = ReadLines(a.folder.path() + L"setup folder.log");
             ASSERT_EQ(folders.size(), 1u);
             EXPECT_EQ(folders[0].rfind(Utf8(LoaderTempPath() + L"tkt"), 0), 0u) << folders[0];
         }},
    };
    for (const auto& attack : attacks) {
        SCOPED_TRACE(attack.name);
        ScopedInstallRecord record;
        Attacker attacker;
        LoaderRun run(attacker.config);
        CopyFileOrThrow(BuildFolder() + L"tests\\fixtures\\tarvik_standin.exe", run.folder() + L"rvdl_source.bin");
        if (attack.before) attack.before(attacker);
        const auto victim = Snapshot(attacker.victim.path());
        const std::wstring setupLog = run.folder() + L"setup.log";
        const std::wstring target = run.folder() + L"Program Files\\Tarvik App\\";
        std::vector<std::wstring> environment = attacker.environment;
        environment.insert(environment.end(), {L"RVZ_SETUP_LOG=" + setupLog, L"RVZ_SETUP_TARGET=" + target});
        Process& loader = run.Start(attacker.currentFolder, nullptr, environment);
        HWND wizard = WaitForWindow(loader.id());
        ASSERT_NE(wizard, nullptr);
        PressButton(wizard, IDOK);
        EXPECT_TRUE(WaitUntil([&] {
            if (attack.during) attack.during(attacker);
            return !loader.Running();
        }, 60s));
        EXPECT_EQ(loader.ExitCode(), 0u);

        EXPECT_EQ(Snapshot(attacker.victim.path()), victim) << "the victim changed";
        const auto setups = ReadLines(setupLog);
        ASSERT_EQ(setups.size(), 1u);
        EXPECT_EQ(setups[0].rfind("\"" + Utf8(LoaderTempPath() + L"tkt"), 0), 0u) << setups[0];
        EXPECT_EQ(ProductStarts(target + L"tarvik.exe"),
                  std::vector<std::string>{"\"" + Utf8(target) + "tarvik.exe\" /app:Demo"});
        for (const std::wstring& where : attacker.planted)
            EXPECT_FALSE(PathExists(where + L"product.log")) << "a planted program ran: " << Utf8(where);
        if (attack.after) attack.after(attacker);
    }
}

}  // namespace
}  // namespace rvztest
