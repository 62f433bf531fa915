// The system layer against the real registry, profile API, file system and
// processes under Wine.
#include "Handles.h"
#include "RunLog.h"
#include "WinTestSupport.h"
#include "basFiles.h"
#include "basRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace rvz {
namespace {

using namespace rvztest;
using namespace std::string_literals;

constexpr wchar_t kInfoKey[] = L"SOFTWARE\\Brisolt\\Tarvik\\Info";

std::wstring ReadPosition() { return RegReadString(HKEY_LOCAL_MACHINE, kInfoKey, L"Position"); }

std::wstring Fixture(const std::wstring& name) {
    return TestProgramFolder() + L"..\\fixtures\\" + name;
}

// Gives environment variables a value for the test's life; programs the
// test starts inherit it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<const wchar_t*> names, const std::wstring& value) {
        for (const wchar_t* name : names) {
            wchar_t old[MAX_PATH];
            const DWORD n = ::GetEnvironmentVariableW(name, old, MAX_PATH);
            saved_.emplace_back(name, std::wstring(old, n < MAX_PATH ? n : 0));
            ::SetEnvironmentVariableW(name, value.c_str());
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_)
            ::SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

// Points TMP and TEMP, which GetTempPath reads, at another folder.
class TemporaryFolderAt : public ScopedEnvironment {
public:
    explicit TemporaryFolderAt(const std::wstring& folder) : ScopedEnvironment({L"TMP", L"TEMP"}, folder) {}
};

// Wine reports every file as the user's own, whoever made it: this stands in
// for the owner check of the elevated loader on Windows, where what it made
// belongs to the administrators.
bool AnyOwner(HANDLE) noexcept { return true; }

TEST(RegReadString, StringWithAndWithoutTerminatingNul) {
    ScopedInstallRecord record;
    const std::wstring position = L"C:\\Apps\\Tarvik";
    record.SetRaw(REG_SZ, position.c_str(), static_cast<DWORD>((position.size() + 1) * 2));
    EXPECT_EQ(ReadPosition(), position);
    record.SetRaw(REG_SZ, position.c_str(), static_cast<DWORD>(position.size() * 2));
    EXPECT_EQ(ReadPosition(), position);
}

TEST(RegReadString, EmbeddedNulEndsTheText) {
    ScopedInstallRecord record;
    const wchar_t data[] = L"C:\\Apps\\Tarvik\0C:\\Other";
    record.SetRaw(REG_SZ, data, sizeof(data));
    EXPECT_EQ(ReadPosition(), L"C:\\Apps\\Tarvik");
}

TEST(RegReadString, EmptyStringValueReadsEmpty) {
    ScopedInstallRecord record;
    record.SetRaw(REG_SZ, L"", 0);
    EXPECT_EQ(ReadPosition(), L"");
}

TEST(RegReadString, NumbersAndBinaryDataAreNoText) {
    ScopedInstallRecord record;
    const DWORD number = 0x41414141;
    record.SetRaw(REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(ReadPosition(), L"");
    const BYTE binary[] = {'C', 0, ':', 0, '\\', 0};
    record.SetRaw(REG_BINARY, binary, sizeof(binary));
    EXPECT_EQ(ReadPosition(), L"");
    const wchar_t list[] = L"C:\\Apps\\Tarvik\0\0";
    record.SetRaw(REG_MULTI_SZ, list, sizeof(list));
    EXPECT_EQ(ReadPosition(), L"");
}

// Installers write %ProgramFiles(x86)%-style records as REG_EXPAND_SZ.
TEST(RegReadString, ExpandableStringsAreExpanded) {
    ScopedInstallRecord record;
    wchar_t programFiles[MAX_PATH];
    ASSERT_GT(::GetEnvironmentVariableW(L"ProgramFiles(x86)", programFiles, MAX_PATH), 0u);
    const ScopedEnvironment home({L"RVZ_TARVIK_HOME"}, L"D:\\Tarvik App");
    const struct {
        std::wstring data;
        std::wstring read;
    } rows[] = {
        {L"%ProgramFiles(x86)%\\Tarvik App\\tarvik.exe",
         programFiles + std::wstring(L"\\Tarvik App\\tarvik.exe")},
        {L"\"%RVZ_TARVIK_HOME%\\tarvik.exe\" /x", L"\"D:\\Tarvik App\\tarvik.exe\" /x"},
        {L"%RVZ_NOT_SET_ANYWHERE%\\tarvik.exe", L"%RVZ_NOT_SET_ANYWHERE%\\tarvik.exe"},
        {L"C:\\Apps\\tarvik.exe", L"C:\\Apps\\tarvik.exe"},
        {L"%RVZ_TARVIK_HOME%\\a.exe\0%RVZ_TARVIK_HOME%\\b.exe"s, L"D:\\Tarvik App\\a.exe"},
        {std::wstring(8000, L'p') + L"%RVZ_TARVIK_HOME%", std::wstring(8000, L'p') + L"D:\\Tarvik App"},
    };
    for (const auto& row : rows) {
        record.SetRaw(REG_EXPAND_SZ, row.data.c_str(), static_cast<DWORD>((row.data.size() + 1) * 2));
        EXPECT_EQ(ReadPosition(), row.read) << Utf8(row.data.substr(0, 60));
    }
}

TEST(RegReadString, MissingKeyOrValue) {
    ScopedInstallRecord record;
    EXPECT_EQ(ReadPosition(), L"");  // no key
    record.SetString(L"x");
    record.Remove();
    EXPECT_EQ(ReadPosition(), L"");  // key without value
    EXPECT_EQ(RegQueryValue(nullptr, L"Position"), L"");
}

TEST(RegReadString, LongValueIsReadWhole) {
    ScopedInstallRecord record;
    const std::wstring position(32000, L'p');
    record.SetString(position);
    EXPECT_EQ(ReadPosition(), position);
}

TEST(ReadIniString, ValuesAreCutTo254Characters) {
    TempFolder folder;
    const std::wstring ini = folder.path() + L"config.ini";
    WriteFileBytes(ini, "[Loader]\r\nAppName=" + std::string(300, 'x') + "\r\nGridCommand=  /app:Demo  \r\n");
    EXPECT_EQ(ReadIniString(ini, L"Loader", L"AppName", L""), std::wstring(254, L'x'));
    // Section and key names are case-insensitive; the value is not trimmed here.
    EXPECT_EQ(ReadIniString(ini, L"loader", L"gridcommand", L""), L"/app:Demo");
}

TEST(ReadIniString, MissingFileSectionOrKeyGiveTheDefault) {
    TempFolder folder;
    const std::wstring ini = folder.path() + L"config.ini";
    EXPECT_EQ(ReadIniString(ini, L"Loader", L"AppName", L""), L"");
    WriteFileBytes(ini, "[Other]\r\nAppName=Demo\r\n");
    EXPECT_EQ(ReadIniString(ini, L"Loader", L"AppName", L""), L"");
    EXPECT_EQ(ReadIniString(ini, L"Other", L"Missing", L""), L"");
    EXPECT_EQ(ReadIniString(ini, L"Other", L"Missing", L"fallback"), L"fallback");
    EXPECT_FALSE(PathExists(folder.path() + L"missing.ini"));  // reading never creates
}

// A configuration saved as UTF-8 with a mark is read in memory: it must
// read as the profile API reads the same text saved as UTF-16.
TEST(IniFile, Utf8WithAMarkReadsAsTheProfileApiReadsUtf16) {
    TempFolder folder;
    const std::wstring longValue(300, L'x');
    const std::wstring rows[] = {
        L"[Loader]\r\nAppName=Demo\r\nGridCommand=/app:Demo\r\n",
        L"  [ Loader ]  \r\n \tAppName \t=  Demo App \t\r\nGridCommand = /app:Demo\r\n",
        L"[loader]\r\nappname=Demo\r\nGRIDCOMMAND=/app:Demo\r\n",
        L"[Loader]\r\nAppName=\"Demo\"\r\nGridCommand='/app:Demo'\r\n",
        L"[Loader]\r\nAppName=\"Demo\r\nGridCommand=\"/app:Demo'\r\n",
        L"[Loader]\r\nAppName=First\r\nAppName=Second\r\nGridCommand=/app:a=b\r\n",
        L"[Loader]\r\n;AppName=Comment\r\nGridCommand=\r\n[Other]\r\nAppName=X\r\n[Loader]\r\nAppName=Late\r\n",
        L"[Other]\r\nAppName=X\r\n[Loader]\r\nAppName=\u03a9mega\r\nGridCommand=" + longValue + L"\r\n",
        L"[Loader]\nAppName=Demo\nGridCommand=/app:Demo",
    };
    for (const std::wstring& text : rows) {
        SCOPED_TRACE(Utf8(text));
        const std::wstring utf16 = folder.path() + L"utf16.ini";
        const std::wstring utf8 = folder.path() + L"utf8.ini";
        WriteFileBytes(utf16, std::string("\xFF\xFE") +
                                  std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
        WriteFileBytes(utf8, "\xEF\xBB\xBF" + Utf8(text));
        const IniFile profile(utf16);
        const IniFile memory(utf8);
        for (const wchar_t* key : {L"AppName", L"GridCommand", L"Missing"})
            EXPECT_EQ(memory.Read(L"Loader", key), profile.Read(L"Loader", key)) << Utf8(key);
    }
}

TEST(CreateTempDirectory, TwoCallsGiveTwoEmptyDirectoriesInTheFolder) {
    TempFolder folder;
    const std::wstring temp = folder.path();
    const std::wstring first = CreateTempDirectory(temp);
    const std::wstring second = CreateTempDirectory(temp);
    ScopeExit remove([&] {
        ::RemoveDirectoryW(first.c_str());
        ::RemoveDirectoryW(second.c_str());
    });
    EXPECT_NE(first, second);
    for (const std::wstring& dir : {first, second}) {
        EXPECT_EQ(GetDirectoryPart(dir), temp);
        const std::wstring name = GetFileNamePart(dir);
        EXPECT_TRUE(std::regex_match(Utf8(name), std::regex("tkt[0-9a-f]{8}\\.tmp"))) << Utf8(name);
        const DWORD attributes = ::GetFileAttributesW(dir.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_TRUE(ListFolder(dir).empty());
    }
}

// The loader's folder is the Windows folder's Temp, never what TMP and TEMP
// say: every program of the user may change those.
TEST(LoaderTempFolder, IsTheWindowsFoldersTempWhateverTmpAndTempSay) {
    TempFolder folder;
    const TemporaryFolderAt redirected(folder.path());
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(LoaderTempFolder(), std::wstring(windows, length) + L"\\Temp\\");
    EXPECT_EQ(TempPath(), folder.path());
}

// An error's text as a message or a log line shows it: the system's, or that
// of the module that knows the code (WinINet for its own), without the line
// break at its end; the number where nobody has a text.
TEST(SystemErrorText, TheSystemsOrTheModulesTextWithoutItsLineBreak) {
    const UniqueModule wininet = LoadSystemLibrary(L"wininet.dll");
    ASSERT_TRUE(wininet);
    constexpr DWORD kNameNotResolved = 12007;  // ERROR_INTERNET_NAME_NOT_RESOLVED
    constexpr DWORD kNobodys = 0x20001234;     // an application's own code: no table has it
    const std::wstring fileNotFound = SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_NE(fileNotFound, L"Error 2");
    EXPECT_EQ(SystemErrorText(ERROR_FILE_NOT_FOUND, wininet.get()), fileNotFound);
    const std::wstring notResolved = SystemErrorText(kNameNotResolved, wininet.get());
    EXPECT_NE(notResolved, L"Error 12007");
    EXPECT_NE(notResolved, SystemErrorText(kNameNotResolved));  // the system has no text for it
    EXPECT_EQ(SystemErrorText(kNobodys), L"Error 536875572");
    EXPECT_EQ(SystemErrorText(kNobodys, wininet.get()), L"Error 536875572");
    for (const std::wstring& text : {fileNotFound, notResolved}) {
        ASSERT_FALSE(text.empty());
        EXPECT_GT(static_cast<unsigned>(text.back()), static_cast<unsigned>(L' ')) << Utf8(text);
    }
}

// Only what administrators or the system made is the loader's to remove.
TEST(MadeByAdministrators, OnlyAdministratorsAndTheSystemOwnTheLoadersFiles) {
    const struct {
        WELL_KNOWN_SID_TYPE type;
        bool loaders;
    } rows[] = {{WinBuiltinAdministratorsSid, true}, {WinLocalSystemSid, true},
                {WinBuiltinUsersSid, false},         {WinWorldSid, false},
                {WinAuthenticatedUserSid, false},    {WinInteractiveSid, false}};
    for (const auto& row : rows) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(sid);
        ASSERT_TRUE(::CreateWellKnownSid(row.type, nullptr, sid, &size));
        EXPECT_EQ(IsAdministratorsOrSystem(sid), row.loaders) << "SID type " << row.type;
    }
    EXPECT_FALSE(IsAdministratorsOrSystem(nullptr));
    // Under Wine everything is the user's own, as a user's program's files are.
    TempFolder folder;
    const UniqueFile own(::CreateFileW(folder.path().c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(own);
    EXPECT_FALSE(MadeByAdministrators(own.get()));
}

// Wine keeps no file security of its own (it maps rights to Unix modes), so
// the descriptor the directory is created with is checked itself.
TEST(CreateTempDirectory, OnlyAdministratorsAndTheSystemMayWrite) {
    const UniqueLocal descriptor = WorkDirectorySecurity();
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr) << "a null DACL would let everybody in";
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "must not inherit the temp folder's rights";

    int writers = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&header)));
        ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &ace->SidStart;
        const bool privileged = ::IsWellKnownSid(sid, WinLocalSystemSid) ||
                                ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
        if (ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER)) {
            EXPECT_TRUE(privileged) << "ACE " << i << " lets others write";
            ++writers;
        } else {
            EXPECT_TRUE(::IsWellKnownSid(sid, WinBuiltinUsersSid)) << "ACE " << i;
        }
    }
    EXPECT_EQ(writers, 2);
}

TEST(FileExists, FilesOfAnyLengthButNotFoldersOrNothing) {
    TempFolder folder;
    WriteFileBytes(folder.path() + L"empty.bin", "");
    EXPECT_TRUE(FileExists(folder.path() + L"empty.bin"));
    EXPECT_FALSE(FileExists(folder.path() + L"missing.bin"));
    EXPECT_FALSE(FileExists(folder.path()));
    EXPECT_FALSE(FileExists(L""));
    EXPECT_FALSE(FileExists(L"C:\\bad<>|name"));
}

// Only a locked file is worth waiting for: a program that is missing or is
// none is refused at once, with the system's reason.
TEST(RunAndWait, MissingProgramReturnsAtOnce) {
    TempFolder folder;
    WriteFileBytes(folder.path() + L"not a program.exe", "This is text, not a program.\r\n");
    const struct {
        std::wstring program;
        std::vector<DWORD> errors;
    } rows[] = {
        {folder.path() + L"no such program.exe", {ERROR_FILE_NOT_FOUND}},
        {folder.path() + L"no such folder\\setup.exe", {ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND}},
        {folder.path() + L"not a program.exe", {ERROR_BAD_EXE_FORMAT}},
        {L"", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}},
    };
    for (const auto& row : rows) {
        const RunResult result = RunAndWait(row.program, Quoted(row.program) + L" /silent");
        EXPECT_FALSE(result.started) << Utf8(row.program);
        EXPECT_NE(std::find(row.errors.begin(), row.errors.end(), result.error), row.errors.end())
            << Utf8(row.program) << ": error " << result.error;
    }
}

// Counts timer ticks of a hidden window to see messages dispatched during a wait.
struct TickingWindow {
    static inline int ticks = 0;
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
    TickingWindow() {
        ticks = 0;
        ::SetTimer(window, 1, 50, [](HWND, UINT, UINT_PTR, DWORD) CALLBACK { ++ticks; });
    }
    ~TickingWindow() { ::DestroyWindow(window); }
};

TEST(RunAndWait, ReturnsAfterTheProgramEndedAndDispatchesMeanwhile) {
    TempFolder folder;
    const std::wstring marker = folder.path() + L"done.txt";
    TickingWindow ticking;
    const RunResult result =
        RunAndWait(Fixture(L"sleeper.exe"), Quoted(Fixture(L"sleeper.exe")) + L" 1500 " + Quoted(marker));
    EXPECT_EQ(ReadFileBytes(marker), "done");
    EXPECT_GE(TickingWindow::ticks, 5);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u);
    // The sleeper without its arguments ends with code 2.
    const RunResult failed = RunAndWait(Fixture(L"sleeper.exe"), Quoted(Fixture(L"sleeper.exe")));
    EXPECT_TRUE(failed.started);
    EXPECT_EQ(failed.exitCode, 2u);
}

TEST(RunAndWait, KeepsAQuitRequestForTheMessageLoop) {
    TempFolder folder;
    ::PostQuitMessage(7);
    RunAndWait(Fixture(L"sleeper.exe"),
               Quoted(Fixture(L"sleeper.exe")) + L" 200 " + Quoted(folder.path() + L"done.txt"));
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

// A virus scanner reading the fresh setup holds it without sharing for a
// moment: holding it and starting it are tried again until the scanner lets
// go; then it runs, held, in the folder it is given.
TEST(RunAndWait, ProgramHeldByAScannerStartsOnceTheHoldEnds) {
    TempFolder folder;
    const std::wstring setup = folder.path() + L"setup.exe";
    CopyFileOrThrow(Fixture(L"sleeper.exe"), setup);
    const std::wstring held = folder.path() + L"held.txt";
    const Process scanner(Quoted(Fixture(L"file_holder.exe")) + L" " + Quoted(setup) + L" 2000 " + Quoted(held));
    ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(held) == "held"; }));
    // While held, Windows refuses the start itself.
    try {
        StartProgram(setup, Quoted(setup));
        ADD_FAILURE() << "a held program started";
    } catch (const WinError& error) {
        EXPECT_EQ(error.code(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << error.what();
    }
    ASSERT_TRUE(scanner.Running()) << "the hold ended too early to test anything";

    const UniqueFile image = HoldFile(setup);
    ASSERT_TRUE(image) << "error " << ::GetLastError();
    ASSERT_FALSE(scanner.Running()) << "held while the scanner still held it";
    const RunResult result = RunAndWait(setup, Quoted(setup) + L" 100 done.txt", {image.get(), folder.path()});
    EXPECT_TRUE(result.started) << "error " << result.error;
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(folder.path() + L"done.txt"), "done") << "not run in its folder";
}

// What was checked is what runs: while held, the file cannot be changed,
// deleted or renamed, nor can its folder; a program that is another file is
// ended before it ran.
TEST(RunAndWait, OnlyTheHeldFileRuns) {
    TempFolder folder;
    const std::wstring setup = folder.path() + L"setup\\tarvik.exe";
    const std::wstring planted = folder.path() + L"planted.exe";
    ::CreateDirectoryW((folder.path() + L"setup").c_str(), nullptr);
    CopyFileOrThrow(Fixture(L"sleeper.exe"), setup);
    CopyFileOrThrow(Fixture(L"sleeper.exe"), planted);
    const UniqueFile image = HoldFile(setup);
    ASSERT_TRUE(image);
    EXPECT_FALSE(UniqueFile(::CreateFileW(setup.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_FALSE(::DeleteFileW(setup.c_str()));
    EXPECT_FALSE(::MoveFileExW(planted.c_str(), setup.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(::MoveFileW(setup.c_str(), (setup + L".old").c_str()));

    const std::wstring ran = folder.path() + L"ran.txt";
    const RunResult other = RunAndWait(planted, Quoted(planted) + L" 0 " + Quoted(ran), {image.get(), {}});
    EXPECT_FALSE(other.started);
    EXPECT_TRUE(other.replaced);
    EXPECT_FALSE(PathExists(ran)) << "the other program ran";
    const RunResult held = RunAndWait(setup, Quoted(setup) + L" 0 " + Quoted(ran), {image.get(), {}});
    EXPECT_TRUE(held.started);
    EXPECT_FALSE(held.replaced);
    EXPECT_EQ(ReadFileBytes(ran), "done");
}

// The program is named explicitly: with "Tarvik.exe" planted above the
// program's folder, an unquoted command line still starts the right one.
TEST(StartProgram, StartsTheNamedProgramWhateverTheLineSuggests) {
    TempFolder folder;
    ::CreateDirectoryW((folder.path() + L"Tarvik App").c_str(), nullptr);
    const std::wstring program = folder.path() + L"Tarvik App\\tarvik.exe";
    CopyFileOrThrow(Fixture(L"tarvik_standin.exe"), program);
    CopyFileOrThrow(Fixture(L"tarvik_standin.exe"), folder.path() + L"Tarvik.exe");

    StartProgram(program, program + L" /app:Demo");
    const std::wstring log = folder.path() + L"Tarvik App\\product.log";
    ASSERT_TRUE(WaitUntil([&] { return !ReadFileBytes(log).empty(); }));
    EXPECT_EQ(ReadFileBytes(log), Utf8(program + L" /app:Demo\n"));
    EXPECT_FALSE(PathExists(folder.path() + L"product.log")) << "the planted program ran";

    try {
        StartProgram(folder.path() + L"missing.exe", Quoted(folder.path() + L"missing.exe") + L" /a");
        ADD_FAILURE() << "a missing program started";
    } catch (const WinError& error) {
        EXPECT_EQ(error.code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_NE(std::string(error.what()).find("missing.exe"), std::string::npos) << error.what();
    }
}

TEST(CreateTempDirectory, UnusableTemporaryFolderIsNamed) {
    TempFolder folder;
    WriteFileBytes(folder.path() + L"a file", "not a folder");
    for (const std::wstring& temp : {folder.path() + L"missing", folder.path() + L"a file"}) {
        using Create = void (*)(const std::wstring&);
        const Create creators[] = {[](const std::wstring& in) { CreateTempDirectory(in); },
                                   [](const std::wstring& in) { CreateWorkDirectory(in); }};
        for (const Create create : creators) {
            try {
                create(temp + L"\\");
                ADD_FAILURE() << "made a directory in " << Utf8(temp);
            } catch (const TempFolderError& error) {
                EXPECT_EQ(error.folder(), temp + L"\\");
                EXPECT_NE(error.code(), 0u);
                EXPECT_NE(std::string(error.what()).find(Utf8(temp)), std::string::npos) << error.what();
            }
        }
    }
    EXPECT_EQ(ListFolder(folder.path()), std::vector<std::wstring>{L"a file"});
}

// The loader's work directory carries a marker that nobody else can open
// while the loader lives; the setup's leftovers go with it.
TEST(CreateWorkDirectory, MarkedWhileItLivesAndRemovedWithWhatTheSetupLeft) {
    TempFolder temp;
    std::wstring path;
    {
        WorkDirectory directory = CreateWorkDirectory(temp.path());
        path = directory.path();
        EXPECT_EQ(GetDirectoryPart(path), temp.path());
        const std::wstring marker = path + L"\\" + kWorkDirectoryMarker;
        EXPECT_TRUE(FileExists(marker));
        const UniqueFile other(::CreateFileW(marker.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(other) << "the marker can be opened while its loader lives";
        EXPECT_FALSE(::DeleteFileW(marker.c_str()));
        EXPECT_FALSE(::MoveFileW(path.c_str(), (path + L"x").c_str())) << "it can be swapped";

        // The setup runs inside it, as on the install road.
        const std::wstring setup = path + L"\\tarvik.exe";
        CopyFileOrThrow(Fixture(L"sleeper.exe"), setup);
        EXPECT_TRUE(RunAndWait(setup, Quoted(setup) + L" 0 setup.log", {nullptr, path}).started);
        EXPECT_EQ(ReadFileBytes(path + L"\\setup.log"), "done");
        ::CreateDirectoryW((path + L"\\unpacked").c_str(), nullptr);
        WriteFileBytes(path + L"\\unpacked\\data.bin", "left behind");
        const WorkDirectory moved = std::move(directory);
        EXPECT_TRUE(directory.path().empty());
        EXPECT_TRUE(PathExists(path)) << "the moved-from object removed it";
    }
    EXPECT_FALSE(PathExists(path)) << "left when the object ended";
}

// A file still in use keeps the directory and its marker, so that a later
// loader removes the rest once it is free.
TEST(CreateWorkDirectory, WhatStaysInUseStaysMarkedForALaterLoader) {
    TempFolder temp;
    WorkDirectory directory = CreateWorkDirectory(temp.path());
    const std::wstring path = directory.path();
    WriteFileBytes(path + L"\\setup.log", "written by a setup still running");
    UniqueFile inUse(::CreateFileW((path + L"\\setup.log").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(inUse);
    EXPECT_FALSE(directory.Remove());
    EXPECT_TRUE(directory.path().empty());
    EXPECT_TRUE(FileExists(path + L"\\" + kWorkDirectoryMarker));
    EXPECT_EQ(RemoveAbandonedWorkDirectories(temp.path(), AnyOwner), 0);
    inUse.reset();
    EXPECT_EQ(RemoveAbandonedWorkDirectories(temp.path(), AnyOwner), 1);
    EXPECT_FALSE(PathExists(path));
}

// A loader killed mid-download leaves its work directory; a later one removes
// it, and nothing that is not the loader's or still in use.
TEST(RemoveAbandonedWorkDirectories, OnlyOursAndOnlyOnceTheirLoaderIsGone) {
    TempFolder temp;
    const std::wstring named = temp.path() + L"owner.txt";
    const std::wstring folder = temp.path().substr(0, temp.path().size() - 1);
    const Process owner(Quoted(Fixture(L"work_directory_owner.exe")) + L" " + Quoted(named) + L" " +
                        Quoted(folder));
    ASSERT_TRUE(WaitUntil([&] { return !ReadFileBytes(named).empty(); }));
    const std::wstring killed = Wide(ReadFileBytes(named));
    WriteFileBytes(killed + L"\\tarvik.exe", "the first half of a download");
    const WorkDirectory running = CreateWorkDirectory(temp.path());
    const std::wstring foreign = temp.path() + L"tkt7.tmp";  // somebody else's
    ::CreateDirectoryW(foreign.c_str(), nullptr);
    WriteFileBytes(foreign + L"\\data.bin", "not the loader's");
    WriteFileBytes(temp.path() + L"tkt8.tmp", "a file by that name");

    EXPECT_EQ(RemoveAbandonedWorkDirectories(temp.path(), AnyOwner), 0);
    EXPECT_TRUE(PathExists(killed + L"\\tarvik.exe"));

    owner.Kill();
    ASSERT_TRUE(owner.Wait());
    // A marked folder that the user made is not the loader's, mark or not.
    EXPECT_EQ(RemoveAbandonedWorkDirectories(temp.path()), 0);
    EXPECT_TRUE(PathExists(killed + L"\\tarvik.exe"));
    EXPECT_EQ(RemoveAbandonedWorkDirectories(temp.path(), AnyOwner), 1);
    EXPECT_FALSE(PathExists(killed));
    EXPECT_TRUE(FileExists(running.path() + L"\\" + kWorkDirectoryMarker));
    EXPECT_TRUE(FileExists(foreign + L"\\data.bin"));
    EXPECT_TRUE(FileExists(temp.path() + L"tkt8.tmp"));
    EXPECT_EQ(RemoveAbandonedWorkDirectories(temp.path(), AnyOwner), 0);
}

// What the loader removes, its own work directory or an abandoned one, it
// removes without following a link and without changing a file that has a
// name elsewhere: a victim outside stays as it was.
TEST(RemoveAbandonedWorkDirectories, NoLinkIsFollowedAndNoOtherNameChanged) {
    TempFolder victim(L"rvz victim");
    WriteFileBytes(victim.path() + L"precious.txt", "precious");
    WriteFileBytes(victim.path() + L"read-only.txt", "read-only");
    ::SetFileAttributesW((victim.path() + L"read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ScopeExit writable([&] { ::SetFileAttributesW((victim.path() + L"read-only.txt").c_str(), FILE_ATTRIBUTE_NORMAL); });
    TempFolder temp;
    const auto plant = [&](const std::wstring& folder) {
        MakeFolderLink(victim.path(), folder + L"\\link");
        ASSERT_TRUE(::CreateHardLinkW((folder + L"\\hard.txt").c_str(), (victim.path() + L"read-only.txt").c_str(), nullptr));
        ::CreateDirectoryW((folder + L"\\unpacked").c_str(), nullptr);
        MakeFolderLink(victim.path(), folder + L"\\unpacked\\deeper link");
        WriteFileBytes(folder + L"\\unpacked\\own.txt", "the setup's");
        ::SetFileAttributesW((folder + L"\\unpacked\\own.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    };
    const auto victimUnchanged = [&] {
        EXPECT_EQ(ListFolder(victim.path()), (std::vector<std::wstring>{L"precious.txt", L"read-only.txt"}));
        EXPECT_EQ(ReadFileBytes(victim.path() + L"precious.txt"), "precious");
        EXPECT_TRUE(::GetFileAttributesW((victim.path() + L"read-only.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    };
    std::wstring own;
    {
        WorkDirectory directory = CreateWorkDirectory(temp.path());
        own = directory.path();
        plant(own);
        EXPECT_FALSE(directory.Remove()) << "a link that could not be removed as itself";
    }
    victimUnchanged();
    EXPECT_FALSE(PathExists(own + L"\\unpacked\\own.txt")) << "its own files go";
    EXPECT_EQ(RemoveAbandonedWorkDirectories(temp.path(), AnyOwner), 0);
    victimUnchanged();
    EXPECT_TRUE(PathExists(own + L"\\" + kWorkDirectoryMarker)) << "what is left stays marked";
}

// After the restriction, a library planted in the current folder is not
// found by its bare name; both roads are tried, one per test process.
void ExpectPlantedLibraryIgnoredAfter(void (*narrowSearch)()) {
    TempFolder folder;
    CopyFileOrThrow(TestProgramFolder() + L"..\\fakedl\\RAVoduza_Download.dll",
                    folder.path() + L"rvz_planted.dll");
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));
    ScopeExit back([] { ::SetCurrentDirectoryW(TestProgramFolder().c_str()); });
    {
        const UniqueModule before(::LoadLibraryW(L"rvz_planted.dll"));
        ASSERT_TRUE(before) << "the current folder was never searched: nothing to test";
    }
    narrowSearch();
    const UniqueModule after(::LoadLibraryW(L"rvz_planted.dll"));
    EXPECT_FALSE(after) << "loaded from the current folder";
}

TEST(RestrictDllSearch, WithSetDefaultDllDirectories) {
    ExpectPlantedLibraryIgnoredAfter([] { RestrictDllSearch(); });
}

TEST(RestrictDllSearch, WithoutItAsOnAnOldWindows7) {
    // user32 has no SetDefaultDllDirectories: the older road is taken.
    ExpectPlantedLibraryIgnoredAfter([] { RestrictDllSearch(::GetModuleHandleW(L"user32.dll")); });
}

// The download library is loaded by its full path on both roads: Windows 7
// without the search flags would refuse them.
TEST(LoadLibraryFromPath, LoadsTheNamedFileWithOrWithoutTheSearchFlags) {
    TempFolder folder;
    const std::wstring path = folder.path() + L"RAVoduza_Download.dll";
    CopyFileOrThrow(TestProgramFolder() + L"..\\fakedl\\RAVoduza_Download.dll", path);
    for (const wchar_t* provider : {L"kernel32.dll", L"user32.dll"}) {
        const UniqueModule module = LoadLibraryFromPath(path, ::GetModuleHandleW(provider));
        ASSERT_TRUE(module) << Utf8(provider) << ": error " << ::GetLastError();
        wchar_t loaded[MAX_PATH];
        const DWORD length = ::GetModuleFileNameW(module.get(), loaded, MAX_PATH);
        EXPECT_EQ(::CompareStringOrdinal(loaded, static_cast<int>(length), path.c_str(), -1, TRUE),
                  CSTR_EQUAL)
            << Utf8(loaded);
        EXPECT_NE(::GetProcAddress(module.get(), "rvdl_Download"), nullptr);
    }
    EXPECT_FALSE(LoadLibraryFromPath(folder.path() + L"missing.dll"));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(RunLog, LinesAreUtf8WithTheirTime) {
    TempFolder temp;
    std::wstring path;
    {
        RunLog log = RunLog::Open(temp.path());
        path = log.Path();
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(GetDirectoryPart(path), temp.path());
        EXPECT_TRUE(std::regex_match(Utf8(GetFileNamePart(path)),
                                     std::regex("RAVoduza-20[0-9]{6}-[0-9]{6}\\.log")))
            << Utf8(path);
        log.Write(L"Download from http://127.0.0.1/tarvik.exe");
        log.Write(L"Größe: 5 MB – fertig");
        EXPECT_NE(RunLog::Open(temp.path()).Path(), path) << "a second run in the same second";
    }
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_TRUE(std::regex_match(
        bytes.substr(3),
        std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}  Download from http://127\\.0\\.0\\.1/tarvik\\.exe\r\n"
                   "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}  " + Utf8(L"Größe: 5 MB – fertig") + "\r\n")))
        << bytes;
}

TEST(RunLog, TheLastTenAreKept) {
    TempFolder temp;
    // Nine earlier runs, two of them in the same second; the oldest is the
    // one without a number.
    const std::vector<std::wstring> earlier = {
        L"RAVoduza-20250101-000000.log",   L"RAVoduza-20250101-000000-2.log",
        L"RAVoduza-20250101-000000-10.log", L"RAVoduza-20250102-000000.log",
        L"RAVoduza-20250103-000000.log",   L"RAVoduza-20250104-000000.log",
        L"RAVoduza-20250105-000000.log",   L"RAVoduza-20250106-000000.log",
        L"RAVoduza-20250107-000000.log"};
    for (const std::wstring& name : earlier) WriteFileBytes(temp.path() + name, "earlier");
    const std::vector<std::wstring> others = {L"RAVoduza-notes.log", L"RAVoduza-20250101-0000.log",
                                              L"tarvik.log"};
    for (const std::wstring& name : others) WriteFileBytes(temp.path() + name, "not a log of a run");

    const RunLog tenth = RunLog::Open(temp.path(), AnyOwner);
    EXPECT_EQ(ListFolder(temp.path()).size(), earlier.size() + others.size() + 1) << "ten are kept";
    // The user's own files are never the loader's, however they are named.
    const std::wstring notOwn = RunLog::Open(temp.path()).Path();
    EXPECT_TRUE(PathExists(temp.path() + earlier[0])) << "a file of the user went";
    ASSERT_TRUE(::DeleteFileW(notOwn.c_str()));
    const RunLog eleventh = RunLog::Open(temp.path(), AnyOwner);
    EXPECT_FALSE(PathExists(temp.path() + earlier[0])) << "the oldest stays";
    const RunLog twelfth = RunLog::Open(temp.path(), AnyOwner);
    EXPECT_FALSE(PathExists(temp.path() + earlier[1]));
    for (size_t i = 2; i < earlier.size(); ++i) EXPECT_TRUE(PathExists(temp.path() + earlier[i]));
    for (const std::wstring& name : others) EXPECT_TRUE(PathExists(temp.path() + name));
    for (const RunLog* log : {&tenth, &eleventh, &twelfth}) EXPECT_TRUE(FileExists(log->Path()));
}

// Only plain files with no other name are deleted as old logs: a folder link
// or a hard link by a log's name stays, and what it leads to is unchanged.
TEST(RunLog, OldLogsThatAreLinksStay) {
    TempFolder victim(L"rvz victim");
    WriteFileBytes(victim.path() + L"precious.txt", "precious");
    TempFolder temp;
    MakeFolderLink(victim.path(), temp.path() + L"RAVoduza-20250101-000000.log");
    ASSERT_TRUE(::CreateHardLinkW((temp.path() + L"RAVoduza-20250101-000000-2.log").c_str(),
                                  (victim.path() + L"precious.txt").c_str(), nullptr));
    for (int day = 2; day <= 9; ++day)
        WriteFileBytes(temp.path() + L"RAVoduza-2025010" + std::to_wstring(day) + L"-000000.log", "earlier");
    WriteFileBytes(temp.path() + L"RAVoduza-20250110-000000.log", "earlier");
    const RunLog log = RunLog::Open(temp.path(), AnyOwner);
    EXPECT_TRUE(PathExists(temp.path() + L"RAVoduza-20250102-000000.log")) << "a plain old log went instead";
    EXPECT_TRUE(PathExists(temp.path() + L"RAVoduza-20250101-000000-2.log"));
    EXPECT_EQ(ListFolder(victim.path()), std::vector<std::wstring>{L"precious.txt"});
    EXPECT_EQ(ReadFileBytes(victim.path() + L"precious.txt"), "precious");
}

TEST(RunLog, AFolderThatCannotBeUsedLeavesTheLogOff) {
    TempFolder temp;
    RunLog log = RunLog::Open(temp.path() + L"missing\\");
    EXPECT_TRUE(log.Path().empty());
    log.Write(L"goes nowhere");
    EXPECT_TRUE(ListFolder(temp.path()).empty());
}

}  // namespace
}  // namespace rvz
