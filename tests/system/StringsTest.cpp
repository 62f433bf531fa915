// The string table as the loader's users see it in each language.
#include "Strings.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace rvz {
namespace {

// German only for a German user interface; every other language gets English.
std::string ExpectedCode() {
    const char* locale = std::getenv("LC_ALL");
    return locale && std::string(locale).rfind("de", 0) == 0 ? "de" : "en";
}

TEST(ResString, LanguageFollowsTheUserInterface) {
    const std::wstring code = ResString(IDS_LANGUAGE_CODE);
    EXPECT_EQ(code, ExpectedCode() == "de" ? L"de" : L"en");
    if (ExpectedCode() == "de") {
        EXPECT_EQ(ResString(IDS_CANCEL), L"Abbrechen");
        EXPECT_EQ(ResString(IDS_CANCEL_QUESTION), L"M\u00f6chten Sie den Vorgang wirklich abbrechen?");
        EXPECT_EQ(ResString(IDS_AFTERWARDS), L"Anschlie\u00dfend wird mit der Installation von ");
    } else {
        EXPECT_EQ(ResString(IDS_CANCEL), L"Cancel");
        EXPECT_EQ(ResString(IDS_INSTALL_ERROR), L"An error occured during the installation!");
        EXPECT_EQ(ResString(IDS_AFTERWARDS), L"Afterwards the installation of ");
    }
}

TEST(ResString, FirstAndLastEntriesOfABlock) {
    // Ids at the edges of their 16-string blocks: 1 (second of block 1),
    // 400 (first of block 26), 411 and 500.
    EXPECT_EQ(ResString(IDS_WIZARD_TITLE), ExpectedCode() == "de" ? L"Installationsassistent" : L"Setup wizard");
    EXPECT_EQ(ResString(IDS_AUTOSTART),
              ExpectedCode() == "de" ? L"Tarvik mit Windows st&arten" : L"St&art Tarvik with Windows");
    EXPECT_EQ(ResString(IDS_WILL_COMMENCE), ExpectedCode() == "de" ? L" fortgefahren." : L" will commence.");
}

TEST(ResString, MissingIdsThrow) {
    EXPECT_THROW(ResString(2), std::out_of_range);    // gap inside a present block
    EXPECT_THROW(ResString(4000), std::out_of_range); // block that does not exist
}

}  // namespace
}  // namespace rvz
