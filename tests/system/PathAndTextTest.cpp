// Path parts and text routines; portable, so they run natively too.
#include "CommandLines.h"
#include "GrowingRead.h"
#include "basFiles.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <set>
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

// A function that holds a text and writes it, with its NUL, into a buffer
// that has room, as Windows' functions do. Cut off, it writes what fits
// without a NUL. What it reports, as ReadGrowing's callers pass it on:
enum class Reports {
    Room,         // the room it needs, fitting or not (ExpandEnvironmentStrings)
    NothingMore,  // success only; cut off, twice the size (GetModuleFileName)
    Failure,      // fails at once
    NeverEnough,  // asks for twice the room every time
};

TEST(ReadGrowing, ReadsTheWholeTextWhateverItsLength) {
    const std::wstring path(32767, L'p');  // the longest path Windows has
    const struct {
        std::wstring text;
        Reports reports;
        size_t firstSize;
        std::optional<std::wstring> read;
        int calls;
    } rows[] = {
        {L"abc", Reports::Room, 4, L"abc", 1},  // exactly the room with its NUL
        {L"abcd", Reports::Room, 4, L"abcd", 2},
        {L"", Reports::Room, 0, L"", 1},
        {L"abc", Reports::NothingMore, 3, L"abc", 2},
        {path, Reports::Room, 260, path, 2},
        {path, Reports::NothingMore, 260, path, 8},
        {std::wstring(kLongestGrowingRead, L'x'), Reports::Room, 260, std::nullopt, 1},
        {L"abc", Reports::Failure, 260, std::nullopt, 1},
        {L"abc", Reports::NeverEnough, 260, std::nullopt, 8},
    };
    for (const auto& row : rows) {
        int calls = 0;
        const std::optional<std::wstring> read = ReadGrowing(
            [&](wchar_t* buffer, size_t size) -> size_t {
                ++calls;
                const size_t length = row.text.size();
                const bool fits = length < size;
                std::wmemcpy(buffer, row.text.c_str(), fits ? length + 1 : size);
                switch (row.reports) {
                    case Reports::Room: return length + 1;
                    case Reports::NothingMore: return fits ? size : size * 2;
                    case Reports::Failure: return 0;
                    case Reports::NeverEnough: return size * 2;
                }
                return 0;
            },
            row.firstSize);
        EXPECT_EQ(read, row.read) << row.text.size() << " characters, first size " << row.firstSize;
        EXPECT_EQ(calls, row.calls) << row.text.size() << " characters, first size " << row.firstSize;
    }
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

// The program part of an install record is worked out from the files that
// exist, never guessed the way CreateProcess guesses an unquoted line.
TEST(ProductStartFor, TheProgramPartIsWorkedOutNeverGuessed) {
    const std::wstring tarvik = L"C:\\Program Files (x86)\\Tarvik App\\tarvik.exe";
    const std::wstring quoted = L"\"" + tarvik + L"\"";
    const std::set<std::wstring> files = {
        tarvik,
        L"C:\\Program Files (x86)\\Tarvik.exe",  // planted where a guess would find it
        L"C:\\T\\t.exe",
        L"C:\\T\\tarvik",
        L"C:\\Odd.exe Folder\\tarvik.EXE",
    };
    const auto exists = [&](const std::wstring& path) { return files.count(path) > 0; };
    const struct {
        std::wstring position;
        std::wstring program;
        std::wstring commandLine;
    } rows[] = {
        // Quoted: the quoted part; the line as written.
        {quoted, tarvik, quoted + L" /app:Demo"},
        {quoted + L" /portable", tarvik, quoted + L" /portable /app:Demo"},
        {L"\"C:\\Gone\\tarvik.exe\" /portable", L"", L""},
        {L"\"" + tarvik, L"", L""},
        {L"\"\"", L"", L""},
        // Unquoted, naming an existing file as a whole: quoted when it has blanks.
        {tarvik, tarvik, quoted + L" /app:Demo"},
        {L"C:\\T\\tarvik", L"C:\\T\\tarvik", L"C:\\T\\tarvik /app:Demo"},
        // Unquoted program and arguments, split after an existing ".exe".
        {L"C:\\T\\t.exe /portable", L"C:\\T\\t.exe", L"C:\\T\\t.exe /portable /app:Demo"},
        {tarvik + L" /portable  /x", tarvik, quoted + L" /portable  /x /app:Demo"},
        {L"C:\\Odd.exe Folder\\tarvik.EXE /a", L"C:\\Odd.exe Folder\\tarvik.EXE",
         L"\"C:\\Odd.exe Folder\\tarvik.EXE\" /a /app:Demo"},
        // No program part: never the planted file, never a part of a name.
        {L"C:\\Program Files (x86)\\Tarvik App\\gone.exe", L"", L""},
        {L"C:\\Program Files (x86)\\Tarvik App\\gone.exe /portable", L"", L""},
        {L"C:\\T\\t.exex /a", L"", L""},
        {L"C:\\T\\t /a", L"", L""},
        {L"", L"", L""},
    };
    for (const auto& row : rows) {
        const ProductStart start = ProductStartFor(row.position, L"/app:Demo", exists);
        EXPECT_EQ(start.program, row.program) << row.position.size();
        EXPECT_EQ(start.commandLine, row.commandLine) << row.position.size();
    }
}

TEST(SetupCommandLine, QuotedPathThenExactSwitches) {
    EXPECT_EQ(SetupCommandLine(L"C:\\Temp dir\\tkt1.tmp\\tarvik.exe", true),
              L"\"C:\\Temp dir\\tkt1.tmp\\tarvik.exe\" /silent /norestart /mergetasks=autostart");
    EXPECT_EQ(SetupCommandLine(L"C:\\T\\tarvik.exe", false),
              L"\"C:\\T\\tarvik.exe\" /silent /norestart /mergetasks=!autostart");
}

}  // namespace
}  // namespace rvz
