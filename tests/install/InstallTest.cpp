// The install and cancel actions end to end: the real test loader and its
// wizard, the stand-in library (whose "download" copies the stand-in setup),
// the stand-in setup in each of its modes, and the stand-in product.
#include "LoaderRun.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace rvztest {
namespace {

// The work directories ("tkt*.tmp") in a temporary folder.
std::vector<std::wstring> WorkDirectories(const std::wstring& temp = TempPath()) {
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
    Install() : run("[Loader]\r\nAppName=Demo\r\nGridCommand=/app:Demo\r\n") {
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
    std::vector<std::string> ProductStarts() const { return ReadLines(Target() + L"product.log"); }

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
    EXPECT_EQ(work.rfind(TempPath() + L"tkt", 0), 0u) << Utf8(work);
    EXPECT_EQ(ReadLines(SetupLog()),
              std::vector<std::string>{"\"" + Utf8(work) + "\\tarvik.exe\" /silent /norestart /mergetasks=autostart"});
    ASSERT_EQ(run.LibraryCalls().size(), 3u);
    EXPECT_EQ(run.LibraryCalls()[2], "Download|0|http://127.0.0.1:" RAVODUZA_TEST_PORT "/tarvik.exe|" +
                                         Utf8(work) + "\\tarvik.exe");
    // The product is started once, after the loader's own end at the latest.
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts(), std::vector<std::string>{"\"" + Utf8(Target()) + "tarvik.exe\" /app:Demo"});
    EXPECT_EQ(record.Read(), Target() + L"tarvik.exe");
    EXPECT_FALSE(PathExists(work));
    ExpectNoWorkDirectoryLeft();
}

TEST_F(Install, ClearedBoxDeselectsAutostart) {
    HWND wizard = StartLoader();
    HWND box = FindCheckBox(wizard);
    ASSERT_NE(box, nullptr);
    ::PostMessageW(box, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_UNCHECKED; }));
    PressButton(wizard, IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    const auto setupRuns = ReadLines(SetupLog());
    ASSERT_EQ(setupRuns.size(), 1u);
    EXPECT_NE(setupRuns[0].find("\" /silent /norestart /mergetasks=!autostart"), std::string::npos);
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts().size(), 1u);
}

TEST_F(Install, SlowSetupIsWaitedFor) {
    PressButton(StartLoader(L"slow"), IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts().size(), 1u);
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
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts().size(), 1u);
    EXPECT_FALSE(PathExists(WorkDirectoryOfSetup()));
    ExpectNoWorkDirectoryLeft();
}

// A temporary folder that is a file: no work directory can be made there.
TEST_F(Install, ErrorInAStepShowsTheErrorMessageAndEnds) {
    const std::wstring notAFolder = run.folder() + L"Temp";
    WriteFileBytes(notAFolder, "a file");
    HWND wizard = StartLoader(L"install", {L"TMP=" + notAFolder, L"TEMP=" + notAFolder});
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
    ExpectNoWorkDirectoryLeft();
}

// The setup wrote a record naming no program: nothing is installed, nothing started.
TEST_F(Install, SetupThatRecordsAMissingProgramEndsSilently) {
    PressButton(StartLoader(L"bad-position"), IDOK);
    EXPECT_EQ(WaitForEnd(), 5u);
    EXPECT_TRUE(TopLevelWindows(run.process().id()).empty());
    EXPECT_TRUE(ProductStarts().empty());
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
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts().size(), 1u);
    ExpectNoWorkDirectoryLeft();
}

// Work directories that killed loaders left (marked, nobody holds the mark)
// go; a folder of the same pattern that is not the loader's stays.
TEST_F(Install, AbandonedWorkDirectoriesOfEarlierLoadersAreRemoved) {
    TempFolder temp(L"rvz abandoned");
    const std::wstring abandoned = temp.path() + L"tkt9abc.tmp";
    const std::wstring foreign = temp.path() + L"tkt9abd.tmp";
    for (const std::wstring& folder : {abandoned, foreign}) ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    WriteFileBytes(abandoned + L"\\RAVoduza.lock", "");
    WriteFileBytes(abandoned + L"\\tarvik.exe", "half a download");
    WriteFileBytes(foreign + L"\\data.bin", "someone else's");

    PressButton(StartLoader(L"install", {L"TMP=" + temp.path(), L"TEMP=" + temp.path()}), IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    EXPECT_FALSE(PathExists(abandoned));
    EXPECT_TRUE(PathExists(foreign + L"\\data.bin"));
    EXPECT_EQ(WorkDirectories(temp.path()), std::vector<std::wstring>{L"tkt9abd.tmp"}) << "only the foreign folder stays";
    ExpectNoWorkDirectoryLeft();
}

// The whole road with a real installer (NSIS): it installs into a folder
// with blanks and writes a quoted record; the run's log tells the story.
TEST_F(Install, RealInstallerInstallsAndTheProductStarts) {
    const std::wstring installed = NsisSetupFolder();
    RemoveTree(installed);
    const rvz::ScopeExit uninstall([&] { RemoveTree(installed); });
    CopyFileOrThrow(BuildFolder() + L"tests\\fixtures\\tarvik_nsis_setup.exe", run.folder() + L"rvdl_source.bin");
    const auto logsBefore = ListFolder(TempPath());
    PressButton(StartLoader(), IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);

    const std::wstring position = record.Read();
    ASSERT_EQ(position.rfind(L'"', 0), 0u) << Utf8(position);
    const std::wstring program = position.substr(1, position.size() - 2);
    EXPECT_NE(program.find(L"\\Tarvik by Brisolt\\tarvik.exe"), std::wstring::npos) << Utf8(program);
    std::vector<std::string> starts;
    WaitUntil([&] { return !(starts = ReadLines(installed + L"product.log")).empty(); });
    EXPECT_EQ(starts, std::vector<std::string>{"\"" + Utf8(program) + "\" /app:Demo"});

    std::wstring log;
    for (const std::wstring& name : ListFolder(TempPath()))
        if (IsRunLog(name) && std::find(logsBefore.begin(), logsBefore.end(), name) == logsBefore.end())
            log = TempPath() + name;
    ASSERT_FALSE(log.empty()) << "the run left its log";
    std::string text;
    for (const std::string& line : ReadLines(log)) text += line + "\n";
    for (const char* step : {"Download from http://127.0.0.1:", "/silent /norestart /mergetasks=autostart",
                             "Setup ended with exit code 0", "Product started: \"", "Outcome: exit code 0"})
        EXPECT_NE(text.find(step), std::string::npos) << step << " in\n" << text;
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
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts().size(), 1u);
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
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts().size(), 1u);
}

// A temporary folder with blanks and characters no ANSI code page holds:
// the library, which takes ANSI paths, still gets one that names the file.
TEST_F(Install, TemporaryFolderBeyondTheAnsiCodePage) {
    TempFolder temp(L"rvz temp \u03a9\u2603");
    HWND wizard = StartLoader(L"install", {L"TMP=" + temp.path(), L"TEMP=" + temp.path()});
    PressButton(wizard, IDOK);
    EXPECT_EQ(WaitForEnd(), 0u);
    const std::wstring work = WorkDirectoryOfSetup();
    EXPECT_EQ(work.rfind(temp.path() + L"tkt", 0), 0u) << Utf8(work);
    WaitUntil([&] { return !ProductStarts().empty(); });
    EXPECT_EQ(ProductStarts().size(), 1u);
    // Nothing left in the temporary folder but the run's log, kept for support.
    const auto left = ListFolder(temp.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(IsRunLog(left[0])) << Utf8(left[0]);
}

}  // namespace
}  // namespace rvztest
