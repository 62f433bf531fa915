// The loader's start as a user meets it: the real test loader, started as
// its own process under Wine, with the stand-in library and product.
#include "LoaderRun.h"

#include <gtest/gtest.h>

namespace rvztest {
namespace {

// The stand-in product installed into a folder of the test's own.
std::wstring InstallProduct(const std::wstring& folder) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"tarvik.exe";
    CopyFileOrThrow(BuildFolder() + L"tests\\fixtures\\tarvik_standin.exe", program);
    return program;
}

std::string LanguageFileName() { return GermanInterface() ? "RAVoduza_de.ini" : "RAVoduza_en.ini"; }

// Waits for the loader's message box titled "Tarvik Loader", answers it with
// OK, and expects the loader to end with the given code. Returns its text.
std::wstring MessageBeforeTheEnd(Process& loader, DWORD exitCode) {
    const MessageBoxSeen box = WaitForMessageBox(loader.id());
    EXPECT_NE(box.window, nullptr) << "no message shown";
    EXPECT_EQ(box.title, L"Tarvik Loader");
    PressButton(box.window, IDOK);
    EXPECT_TRUE(loader.Wait());
    EXPECT_EQ(loader.ExitCode(), exitCode);
    return box.text;
}

struct Installed : ::testing::Test {
    ScopedInstallRecord record;
};

TEST_F(Installed, StartsTheProductWithGridCommandAndNothingElse) {
    LoaderRun run(kDemoConfig, LoaderRun::Library::StandIn, L"rvzinstalled");
    const std::wstring program = InstallProduct(run.folder() + L"Tarvik\\");
    record.SetString(program);

    Process& loader = run.Start();
    ASSERT_TRUE(loader.Wait());
    EXPECT_EQ(loader.ExitCode(), 0u);
    EXPECT_EQ(ProductStarts(program), std::vector<std::string>{Utf8(program) + " /app:Demo"});
    EXPECT_TRUE(run.LibraryCalls().empty()) << "no option set, no download on this road";
    EXPECT_FALSE(PathExists(run.folder() + L"rvdl_calls.log"));
}

TEST_F(Installed, EmptyGridCommandStillGetsItsBlank) {
    LoaderRun run("[Loader]\r\nAppName=Demo\r\n", LoaderRun::Library::StandIn, L"rvzinstalled");
    const std::wstring program = InstallProduct(run.folder() + L"Tarvik\\");
    record.SetString(program);
    ASSERT_TRUE(run.Start().Wait());
    EXPECT_EQ(ProductStarts(program), std::vector<std::string>{Utf8(program) + " "});
}

TEST_F(Installed, ProgramPathWithBlanksIsQuoted) {
    LoaderRun run;
    const std::wstring program = InstallProduct(run.folder() + L"Tarvik App\\");
    // A program that an unquoted line would start instead.
    CopyFileOrThrow(program, run.folder() + L"Tarvik.exe");
    record.SetString(program);
    ASSERT_TRUE(run.Start().Wait());
    EXPECT_EQ(ProductStarts(program), std::vector<std::string>{"\"" + Utf8(program) + "\" /app:Demo"});
    EXPECT_FALSE(PathExists(run.folder() + L"product.log"));
}

TEST_F(Installed, PositionWithArgumentsIsUsedAsWritten) {
    LoaderRun run(kDemoConfig, LoaderRun::Library::None, L"rvzinstalled");
    const std::wstring program = InstallProduct(run.folder() + L"Tarvik\\");
    record.SetString(program + L" /portable");
    Process& loader = run.Start();
    ASSERT_TRUE(loader.Wait());
    EXPECT_EQ(loader.ExitCode(), 0u) << "the installed road needs no download library";
    EXPECT_EQ(ProductStarts(program), std::vector<std::string>{Utf8(program) + " /portable /app:Demo"});
}

// Installers write %ProgramFiles(x86)%-style records; the loader expands them.
TEST_F(Installed, RecordWithEnvironmentVariablesIsExpanded) {
    LoaderRun run(kDemoConfig, LoaderRun::Library::None, L"rvzinstalled");
    const std::wstring program = InstallProduct(run.folder() + L"Tarvik\\");
    const DWORD type = REG_EXPAND_SZ;
    const std::wstring position = L"%RVZ_PRODUCT_HOME%Tarvik\\tarvik.exe";
    record.SetRaw(type, position.c_str(), static_cast<DWORD>((position.size() + 1) * sizeof(wchar_t)));
    Process& loader = run.Start(L"", nullptr, {L"RVZ_PRODUCT_HOME=" + run.folder()});
    ASSERT_TRUE(loader.Wait());
    EXPECT_EQ(loader.ExitCode(), 0u);
    EXPECT_EQ(ProductStarts(program), std::vector<std::string>{Utf8(program) + " /app:Demo"});
}

TEST_F(Installed, ProductThatCannotStartIsReported) {
    LoaderRun run;
    // There, but no program: a damaged installation.
    ::CreateDirectoryW((run.folder() + L"Tarvik").c_str(), nullptr);
    WriteFileBytes(run.folder() + L"Tarvik\\tarvik.exe", "not a program");
    record.SetString(run.folder() + L"Tarvik\\tarvik.exe");
    const std::wstring text = MessageBeforeTheEnd(run.Start(), 1u);
    // The loader's own words in the user's language, then the file.
    EXPECT_EQ(text.rfind(GermanInterface() ? L"Tarvik konnte nicht gestartet werden:"
                                           : L"Tarvik could not be started:", 0), 0u) << Utf8(text);
    EXPECT_NE(text.find(L"Tarvik\\tarvik.exe"), std::wstring::npos) << Utf8(text);
}

struct NotInstalled : ::testing::Test {
    ScopedInstallRecord record;  // none
};

TEST_F(NotInstalled, SetsTitleAndLanguageBeforeShowingTheWizard) {
    LoaderRun run;
    Process& loader = run.Start();
    HWND wizard = WaitForWindow(loader.id());
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(run.LibraryCalls(), (std::vector<std::string>{
                                      "SetOption|title|Setup - Tarvik + Demo",
                                      "SetOption|language|" + Utf8(run.folder()) + LanguageFileName(),
                                  }));
    EXPECT_EQ(WindowText(wizard), L"Setup - Tarvik + Demo");

    ::PostMessageW(wizard, WM_CLOSE, 0, 0);
    ASSERT_TRUE(loader.Wait());
    EXPECT_EQ(loader.ExitCode(), 7u);
    EXPECT_EQ(run.LibraryCalls().size(), 2u) << "closing downloads nothing";
}

TEST_F(NotInstalled, SecondStartBringsTheFirstForwardAndNeverBlocksTheInstalledRoad) {
    LoaderRun first;
    HWND wizard = WaitForWindow(first.Start().id());
    ASSERT_NE(wizard, nullptr);

    LoaderRun second;
    Process& again = second.Start();
    ASSERT_TRUE(again.Wait());
    EXPECT_EQ(again.ExitCode(), 9u);
    EXPECT_TRUE(TopLevelWindows(again.id(), false).empty()) << "no second wizard";
    EXPECT_TRUE(second.LibraryCalls().empty());
    EXPECT_TRUE(first.process().Running());
    EXPECT_EQ(::GetForegroundWindow(), wizard);

    // Installed meanwhile (by hand, say): a start takes the installed road.
    LoaderRun third;
    const std::wstring program = InstallProduct(third.folder() + L"Tarvik\\");
    record.SetString(program);
    Process& installed = third.Start();
    ASSERT_TRUE(installed.Wait());
    EXPECT_EQ(installed.ExitCode(), 0u);
    EXPECT_EQ(ProductStarts(program).size(), 1u);

    ::PostMessageW(wizard, WM_CLOSE, 0, 0);
    ASSERT_TRUE(first.process().Wait());
    EXPECT_EQ(first.process().ExitCode(), 7u);
}

TEST_F(NotInstalled, MissingRightsAreReportedWithoutAWizard) {
    LoaderRun run;
    // A token without the right to change the system time: a standard user's.
    rvz::UniqueHandleKernel own;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()));
    LUID_AND_ATTRIBUTES systemTime{};
    ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &systemTime.Luid));
    rvz::UniqueHandleKernel restricted;
    ASSERT_TRUE(::CreateRestrictedToken(own.get(), 0, 0, nullptr, 1, &systemTime, 0, nullptr,
                                        restricted.put()));

    Process& loader = run.Start(L"", restricted.get());
    const MessageBoxSeen box = WaitForMessageBox(loader.id());
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.title, L"Tarvik Loader");
    const RoadMessage shown = SplitRoadMessage(box.text);
    EXPECT_EQ(shown.message, GermanInterface()
                                 ? L"Sie ben\u00f6tigen Administrator-Rechte um diese Anwendung zu installieren!"
                                 : L"You need administrator privileges to install this application!");
    // The box's last line names the run's log, which says what happened.
    bool logged = false;
    for (const std::string& line : ReadLines(shown.logPath))
        logged = logged || line.find("No administrator rights") != std::string::npos;
    EXPECT_TRUE(logged) << Utf8(shown.logPath);
    EXPECT_EQ(TopLevelWindows(loader.id()).size(), 1u) << "only the message, no wizard";
    EXPECT_EQ(run.LibraryCalls().size(), 2u) << "the options are set before the rights are asked";

    PressButton(box.window, IDOK);
    ASSERT_TRUE(loader.Wait());
    EXPECT_EQ(loader.ExitCode(), 2u);
}

TEST_F(NotInstalled, MissingLibraryIsNamed) {
    LoaderRun run(kDemoConfig, LoaderRun::Library::None);
    const std::wstring text = MessageBeforeTheEnd(run.Start(), 3u);
    EXPECT_NE(text.find(run.folder() + L"RAVoduza_Download.dll"), std::wstring::npos) << Utf8(text);
}

TEST_F(NotInstalled, LibraryWithoutTheDownloadFunctionIsNamed) {
    LoaderRun run(kDemoConfig, LoaderRun::Library::Incomplete);
    const std::wstring text = MessageBeforeTheEnd(run.Start(), 3u);
    EXPECT_NE(text.find(L"RAVoduza_Download.dll"), std::wstring::npos) << Utf8(text);
    EXPECT_NE(text.find(L"rvdl_Download"), std::wstring::npos) << Utf8(text);
    EXPECT_TRUE(run.LibraryCalls().empty()) << "no option is set through half a library";
}

TEST_F(NotInstalled, LibraryInTheCurrentFolderIsNeverLoaded) {
    LoaderRun run(kDemoConfig, LoaderRun::Library::None);
    TempFolder planted(L"rvz planted");
    CopyFileOrThrow(BuildFolder() + L"tests\\fakedl\\RAVoduza_Download.dll",
                    planted.path() + L"RAVoduza_Download.dll");
    MessageBeforeTheEnd(run.Start(planted.path()), 3u);
    EXPECT_FALSE(PathExists(planted.path() + L"rvdl_calls.log"));
}

// Configuration files as vendors and editors leave them: whatever they hold,
// the wizard comes up, with the add-on's name where it can be read.
TEST_F(NotInstalled, ConfigurationFilesOfEveryShape) {
    const std::string utf16 = [] {
        const std::wstring text = L"\xFEFF[Loader]\r\nAppName=D\u00e9mo\r\n";
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    }();
    const struct {
        const char* name;
        std::string content;
        bool write;
        std::string title;
    } cases[] = {
        {"missing", "", false, "Setup - Tarvik + "},
        {"empty", "", true, "Setup - Tarvik + "},
        {"without the section", "[Other]\r\nAppName=Demo\r\n", true, "Setup - Tarvik + "},
        {"blanks around the values", "[Loader]\r\nAppName=   Demo App   \r\n", true,
         "Setup - Tarvik + Demo App"},
        // The stand-in library logs the ANSI text it was given (code page 1252).
        {"UTF-16", utf16, true, "Setup - Tarvik + D\xE9mo"},
        {"UTF-8 as Notepad saves it", "[Loader]\r\nAppName=M\xC3\xBCller Grid\r\n", true,
         "Setup - Tarvik + M\xFCller Grid"},
        {"UTF-8 with a byte order mark", "\xEF\xBB\xBF[Loader]\r\nAppName=M\xC3\xBCller Grid\r\n", true,
         "Setup - Tarvik + M\xFCller Grid"},
        {"ANSI", "[Loader]\r\nAppName=M\xFCller Grid\r\n", true, "Setup - Tarvik + M\xFCller Grid"},
        {"binary garbage", std::string("\x00\xFF\x1B[Loader\x00]\r\n\x80\x81=\xFE", 16), true,
         "Setup - Tarvik + "},
        {"300 characters", "[Loader]\r\nAppName=" + std::string(300, 'a') + "\r\n", true,
         "Setup - Tarvik + " + std::string(254, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoaderRun run(c.content);
        if (!c.write) ::DeleteFileW((run.folder() + L"RAVoduza_config.ini").c_str());
        Process& loader = run.Start();
        HWND wizard = WaitForWindow(loader.id());
        ASSERT_NE(wizard, nullptr);
        ASSERT_FALSE(run.LibraryCalls().empty());
        EXPECT_EQ(run.LibraryCalls().front(), "SetOption|title|" + c.title);
        ::PostMessageW(wizard, WM_CLOSE, 0, 0);
        EXPECT_TRUE(loader.Wait());
    }
    for (const std::wstring& name : ListFolder(TempPath()))
        EXPECT_NE(name.rfind(L"rvc", 0), 0u) << "a copy of a configuration was left: " << Utf8(name);
}

// Install records that are no install position: the product counts as not
// installed, so the wizard offers to install it again.
TEST_F(NotInstalled, RecordsThatAreNoPositionShowTheWizard) {
    const DWORD number = 1;
    const BYTE binary[] = {'C', 0, ':', 0};
    const struct {
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {"empty text", REG_SZ, L"", 2},
        // A product deleted by hand, while a program lies where an unquoted
        // line would start it: the wizard offers to install again.
        {"missing program", REG_SZ, nullptr, 0},
        {"number", REG_DWORD, &number, sizeof(number)},
        {"binary", REG_BINARY, binary, sizeof(binary)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoaderRun run;
        const std::wstring missing = run.folder() + L"Tarvik App\\tarvik.exe /portable";
        if (c.data)
            record.SetRaw(c.type, c.data, c.size);
        else
            record.SetString(missing);
        InstallProduct(run.folder() + L"Planted\\");
        CopyFileOrThrow(run.folder() + L"Planted\\tarvik.exe", run.folder() + L"Tarvik.exe");
        Process& loader = run.Start();
        HWND wizard = WaitForWindow(loader.id());
        ASSERT_NE(wizard, nullptr);
        ::PostMessageW(wizard, WM_CLOSE, 0, 0);
        EXPECT_TRUE(loader.Wait());
        EXPECT_EQ(loader.ExitCode(), 7u);
        EXPECT_FALSE(PathExists(run.folder() + L"product.log")) << "the planted program never ran";
    }
}

}  // namespace
}  // namespace rvztest
