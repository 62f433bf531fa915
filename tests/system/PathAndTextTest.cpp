// Path parts and text routines; portable, so they run natively too.
#include "AsciiText.h"
#include "CommandLines.h"
#include "GrowingRead.h"
#include "basFiles.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <limits>
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

// Protocol words, extensions, option names and hex fold A-Z only, in any
// locale; no other letter is folded.
TEST(AsciiNoCase, FoldsOnlyAToZ) {
    const struct {
        std::wstring text;
        std::wstring other;
        bool equal;
        bool startsWith;
    } rows[] = {
        {L"HTTPS://host", L"https://", false, true},
        {L"LocalHost", L"localhost", true, true},
        {L"tarvik.EXE", L"tarvik.exe", true, true},
        {L"@[`{", L"`{@[", false, false},  // the neighbours of A-Z and a-z stay apart
        {L"\u00c4", L"\u00e4", false, false},  // letters beyond ASCII are not folded
        {L"\u0130", L"i", false, false},
        {L"http", L"https://", false, false},
        {L"", L"", true, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(EqualsAsciiNoCase(row.text, row.other), row.equal) << row.other.size();
        EXPECT_EQ(StartsWithAsciiNoCase(row.text, row.other), row.startsWith) << row.other.size();
    }
    EXPECT_TRUE(EqualsAsciiNoCase("0A1B2C3D4E5F", "0a1b2c3d4e5f"));
    EXPECT_FALSE(EqualsAsciiNoCase("title", "titles"));
}

TEST(ParseDecimal, DigitsOnlyUpToTheLargestValue) {
    constexpr uint64_t kAny = std::numeric_limits<uint64_t>::max();
    const struct {
        std::wstring text;
        uint64_t largest;
        bool decimal;
        std::optional<uint64_t> value;
    } rows[] = {
        {L"0", kAny, true, 0},
        {L"0042", kAny, true, 42},
        {L"18446744073709551615", kAny, true, kAny},
        {L"18446744073709551616", kAny, true, std::nullopt},
        {L"99999999999999999999999", kAny, true, std::nullopt},
        {L"2147483647", 2147483647, true, 2147483647},
        {L"2147483648", 2147483647, true, std::nullopt},
        {L"7", 5, true, std::nullopt},
        {L"5", 5, true, 5},
        {L"", kAny, false, std::nullopt},
        {L"-1", kAny, false, std::nullopt},
        {L"+1", kAny, false, std::nullopt},
        {L" 1", kAny, false, std::nullopt},
        {L"1 ", kAny, false, std::nullopt},
        {L"12a", kAny, false, std::nullopt},
        {L"\u0661", kAny, false, std::nullopt},  // an Arabic-Indic one is no digit here
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseDecimal(row.text, row.largest), row.value) << row.text.size();
        EXPECT_EQ(IsDecimal(row.text), row.decimal) << row.text.size();
    }
}

TEST(Trim, RemovesOnlyOuterBlanks) {
    EXPECT_EQ(Trim(L"  Demo App  "), L"Demo App");
    EXPECT_EQ(Trim(L"   "), L"");
    EXPECT_EQ(Trim(L""), L"");
    EXPECT_EQ(Trim(L"\tDemo\t"), L"\tDemo\t");
}

TEST(ProductCommandLine, PositionBlankCommand) {
    EXPECT_EQ(ProductCommandLine(L"C:\\Apps\\Tarvik\\tarvik.exe", L"/app:Demo"),
              L"C:\\Apps\\Tarvik\\tarvik.exe /app:Demo");
    // An empty command still gets its blank.
    EXPECT_EQ(ProductCommandLine(L"C:\\Apps\\Tarvik\\tarvik.exe", L""),
              L"C:\\Apps\\Tarvik\\tarvik.exe ");
}

TEST(ProductCommandLine, ExistingProgramWithBlanksIsQuoted) {
    EXPECT_EQ(ProductCommandLine(L"C:\\Program Files\\Tarvik App\\tarvik.exe", L"/app:Demo"),
              L"\"C:\\Program Files\\Tarvik App\\tarvik.exe\" /app:Demo");
}

TEST(ProductCommandLine, QuotedPositionsStayAsWritten) {
    EXPECT_EQ(ProductCommandLine(L"\"C:\\Program Files\\T\\t.exe\"", L"/a"),
              L"\"C:\\Program Files\\T\\t.exe\" /a");
    EXPECT_EQ(ProductCommandLine(L"\"C:\\Program Files\\T\\t.exe\" /portable", L"/a"),
              L"\"C:\\Program Files\\T\\t.exe\" /portable /a");
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
