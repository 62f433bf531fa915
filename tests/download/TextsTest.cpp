#include "Options.h"
#include "Texts.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace rvdl {
namespace {

TEST(DownloadSubstitute, ReplacesEachNamedPlaceholder) {
    EXPECT_EQ(Substitute(L"{done} of {total}", {{L"done", L"1 MB"}, {L"total", L"2 MB"}}),
              L"1 MB of 2 MB");
    EXPECT_EQ(Substitute(L"{a}{a}{b}", {{L"a", L"x"}, {L"b", L"y"}}), L"xxy");
}

TEST(DownloadSubstitute, KeepsUnknownAndUnclosedBracesAsTheyAre) {
    EXPECT_EQ(Substitute(L"{unknown} {a}", {{L"a", L"x"}}), L"{unknown} x");
    EXPECT_EQ(Substitute(L"50{%} {a", {{L"a", L"x"}}), L"50{%} {a");
    EXPECT_EQ(Substitute(L"{{a}}", {{L"a", L"x"}}), L"{x}");
    EXPECT_EQ(Substitute(L"", {{L"a", L"x"}}), L"");
}

TEST(DownloadSubstitute, NeverExpandsTheValuesItInserts) {
    // A file called "{host}.exe" must show as such, not as the host's name.
    EXPECT_EQ(Substitute(L"{file} from {host}", {{L"file", L"{host}.exe"}, {L"host", L"h"}}),
              L"{host}.exe from h");
}

TEST(DownloadTexts, EveryTextHasAKeyOfItsOwnAndEnglish) {
    std::set<std::wstring> keys;
    for (size_t i = 0; i < kTextCount; ++i) {
        const TextEntry& entry = TextInfo(static_cast<TextId>(i));
        EXPECT_FALSE(std::wstring(entry.english).empty()) << entry.key;
        EXPECT_TRUE(keys.insert(entry.key).second) << "duplicate key " << entry.key;
    }
}

TEST(DownloadTexts, LoadTakesWhatTheLookupAnswersAndEnglishForTheRest) {
    const std::map<std::wstring, std::wstring> file = {
        {L"Cancel", L"Abbrechen"}, {L"Retry", L""}, {L"Heading", L"{file} wird geladen"}};
    const Texts texts = Texts::Load([&](const wchar_t* key) -> std::optional<std::wstring> {
        const auto found = file.find(key);
        if (found == file.end()) return std::nullopt;
        return found->second;
    });
    EXPECT_EQ(texts.Get(TextId::Cancel), L"Abbrechen");
    EXPECT_EQ(texts.Get(TextId::Retry), L"&Retry");  // empty counts as missing
    EXPECT_EQ(texts.Format(TextId::Heading, {{L"file", L"a.exe"}}), L"a.exe wird geladen");
    EXPECT_EQ(texts.Get(TextId::Title), L"Download");
}

TEST(DownloadOptions, KnowsTitleAndLanguageInAnyCaseAndNothingElse) {
    EXPECT_EQ(ParseOptionName("title"), Option::Title);
    EXPECT_EQ(ParseOptionName("Language"), Option::Language);
    EXPECT_EQ(ParseOptionName("TITLE"), Option::Title);
    EXPECT_FALSE(ParseOptionName(""));
    EXPECT_FALSE(ParseOptionName("titles"));
    EXPECT_FALSE(ParseOptionName("lang"));
    EXPECT_FALSE(ParseOptionName(std::string_view("title\0x", 7)));
}

}  // namespace
}  // namespace rvdl
