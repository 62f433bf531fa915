// Path parts and text routines; portable, so they run natively too.
#include "CommandLines.h"
#include "basFiles.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace rvz {
namespace {

TEST(PathParts, SplitAtTheLastBackslash) {
    EXPECT_EQ(GetDirectoryPart(L"C:\\Dist\\RAVoduza.exe"), L"C:\\Dist\\");
    EXPECT_EQ(GetFileNamePart(L"C:\\Dist\\RAVoduza.exe"), L"RAVoduza.exe");
    EXPECT_EQ(GetDirectoryPart(L"\\\\server\\share\\x"), L"\\\\server\\share\\");
    EXPECT_EQ(GetFileNamePart(L"\\\\server\\share\\x"), L"x");
}

TEST(PathParts, PathWithoutBackslashOrEndingInOne) {
    EXPECT_EQ(GetDirectoryPart(L"RAVoduza.exe"), L"");
    EXPECT_EQ(GetFileNamePart(L"RAVoduza.exe"), L"RAVoduza.exe");
    EXPECT_EQ(GetDirectoryPart(L"C:\\Dist\\"), L"C:\\Dist\\");
    EXPECT_EQ(GetFileNamePart(L"C:\\Dist\\"), L"");
    EXPECT_EQ(GetDirectoryPart(L""), L"");
    EXPECT_EQ(GetFileNamePart(L""), L"");
}

TEST(PathParts, ForwardSlashIsAnOrdinaryCharacter) {
    EXPECT_EQ(GetDirectoryPart(L"C:/Dist/RAVoduza.exe"), L"");
    EXPECT_EQ(GetFileNamePart(L"C:\\a/b\\c/d.exe"), L"c/d.exe");
}

TEST(PathParts, BackslashBeyondTheLongestPathOverflows) {
    std::wstring longest(32765, L'a');
    longest += L"\\x";  // backslash at position 32766 still scans
    EXPECT_EQ(GetFileNamePart(longest), L"x");
    std::wstring tooLong(32766, L'a');
    tooLong += L"\\x";  // backslash at position 32767
    EXPECT_THROW(GetDirectoryPart(tooLong), std::overflow_error);
    EXPECT_THROW(GetFileNamePart(tooLong), std::overflow_error);
}

TEST(CutRight, DropsCharactersFromTheEnd) {
    EXPECT_EQ(CutRight(L"abc", 1), L"ab");
    EXPECT_EQ(CutRight(L"abc", 3), L"");
    EXPECT_EQ(CutRight(L"abc", 0), L"abc");
    EXPECT_EQ(CutRight(L"abc", -1), L"abc");
    EXPECT_THROW(CutRight(L"abc", 4), std::invalid_argument);
    EXPECT_THROW(CutRight(L"", 1), std::invalid_argument);
}

TEST(Trim, RemovesOnlyOuterBlanks) {
    EXPECT_EQ(Trim(L"  Demo App  "), L"Demo App");
    EXPECT_EQ(Trim(L"   "), L"");
    EXPECT_EQ(Trim(L""), L"");
    EXPECT_EQ(Trim(L"\tDemo\t"), L"\tDemo\t");
}

TEST(ProductCommandLine, PositionBlankCommand) {
    EXPECT_EQ(ProductCommandLine(L"C:\\Apps\\Tarvik\\tarvik.exe", L"/app:Demo", true),
              L"C:\\Apps\\Tarvik\\tarvik.exe /app:Demo");
    // An empty command still gets its blank.
    EXPECT_EQ(ProductCommandLine(L"C:\\Apps\\Tarvik\\tarvik.exe", L"", true),
              L"C:\\Apps\\Tarvik\\tarvik.exe ");
}

TEST(ProductCommandLine, ExistingProgramWithBlanksIsQuoted) {
    EXPECT_EQ(ProductCommandLine(L"C:\\Program Files\\Tarvik App\\tarvik.exe", L"/app:Demo", true),
              L"\"C:\\Program Files\\Tarvik App\\tarvik.exe\" /app:Demo");
}

TEST(ProductCommandLine, QuotedOrFullCommandLinePositionsStayAsWritten) {
    EXPECT_EQ(ProductCommandLine(L"\"C:\\Program Files\\T\\t.exe\"", L"/a", true),
              L"\"C:\\Program Files\\T\\t.exe\" /a");
    // Not a file: the setup wrote a command line with arguments of its own.
    EXPECT_EQ(ProductCommandLine(L"C:\\T\\t.exe /portable", L"/a", false), L"C:\\T\\t.exe /portable /a");
}

TEST(SetupCommandLine, QuotedPathThenExactSwitches) {
    EXPECT_EQ(SetupCommandLine(L"C:\\Temp dir\\tkt1.tmp\\tarvik.exe", true),
              L"\"C:\\Temp dir\\tkt1.tmp\\tarvik.exe\" /silent /norestart /mergetasks=autostart");
    EXPECT_EQ(SetupCommandLine(L"C:\\T\\tarvik.exe", false),
              L"\"C:\\T\\tarvik.exe\" /silent /norestart /mergetasks=!autostart");
}

}  // namespace
}  // namespace rvz
