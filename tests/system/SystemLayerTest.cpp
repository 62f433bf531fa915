// The system layer against the real registry, profile API, file system and
// processes under Wine.
#include "Handles.h"
#include "WinTestSupport.h"
#include "basFiles.h"
#include "basRegistry.h"

#include <gtest/gtest.h>

#include <string>

namespace rvz {
namespace {

using namespace rvztest;

constexpr wchar_t kInfoKey[] = L"SOFTWARE\\Brisolt\\Tarvik\\Info";

std::wstring ReadPosition() { return RegReadString(HKEY_LOCAL_MACHINE, kInfoKey, L"Position"); }

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

TEST(CreateTempDirectory, TwoCallsGiveTwoEmptyDirectoriesInTheTempFolder) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring first = CreateTempDirectory();
    const std::wstring second = CreateTempDirectory();
    ScopeExit remove([&] {
        ::RemoveDirectoryW(first.c_str());
        ::RemoveDirectoryW(second.c_str());
    });
    EXPECT_NE(first, second);
    for (const std::wstring& dir : {first, second}) {
        EXPECT_EQ(GetDirectoryPart(dir), temp);
        const std::wstring name = GetFileNamePart(dir);
        EXPECT_EQ(name.substr(0, 3), L"tkt");
        EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
        const DWORD attributes = ::GetFileAttributesW(dir.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_TRUE(ListFolder(dir).empty());
    }
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

TEST(RunAndWait, MissingProgramReturnsAtOnce) {
    TempFolder folder;
    RunAndWait(L"\"" + folder.path() + L"no such program.exe\" /silent");
    RunAndWait(L"");
    SUCCEED() << "returned without an error";
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
    RunAndWait(L"\"" + TestProgramFolder() + L"..\\fixtures\\sleeper.exe\" 1500 \"" + marker + L"\"");
    EXPECT_EQ(ReadFileBytes(marker), "done");
    EXPECT_GE(TickingWindow::ticks, 5);
}

TEST(RunAndWait, KeepsAQuitRequestForTheMessageLoop) {
    TempFolder folder;
    ::PostQuitMessage(7);
    RunAndWait(L"\"" + TestProgramFolder() + L"..\\fixtures\\sleeper.exe\" 200 \"" +
               folder.path() + L"done.txt\"");
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace
}  // namespace rvz
