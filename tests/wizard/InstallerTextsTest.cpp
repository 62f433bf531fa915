// The wizard's texts as the load handler puts them together; portable, so
// they run natively too.
#include "InstallerTexts.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <vector>

namespace rvz {
namespace {

// A string table that records the order in which texts are asked for.
struct RecordingTable {
    std::map<unsigned, std::wstring> texts{{400, L"Setup wizard"},
                                           {401, L"Welcome to the setup wizard."},
                                           {402, L"First Tarvik will be downloaded and installed."},
                                           {403, L"Afterwards the installation of "},
                                           {404, L" will commence."}};
    std::vector<unsigned> asked;

    StringSource Source() {
        return [this](unsigned id) {
            asked.push_back(id);
            return texts.at(id);
        };
    }
};

TEST(InstallerTexts, CaptionIsTheFixedFragmentAndTheName) {
    EXPECT_EQ(InstallerCaption(L"Demo"), L"Setup - Tarvik + Demo");
    EXPECT_EQ(InstallerCaption(L""), L"Setup - Tarvik + ");
}

TEST(InstallerTexts, TitleHasOneBlankBeforeText400) {
    RecordingTable table;
    EXPECT_EQ(InstallerTitle(L"Demo", table.Source()), L"Tarvik + Demo Setup wizard");
    EXPECT_EQ(InstallerTitle(L"", table.Source()), L"Tarvik +  Setup wizard");
    EXPECT_EQ(table.asked, (std::vector<unsigned>{400, 400}));
}

TEST(InstallerTexts, InfoIsThreeParagraphsFetchedInOrder) {
    RecordingTable table;
    EXPECT_EQ(InstallerInfo(L"Demo", table.Source()),
              L"Welcome to the setup wizard.\r\n\r\nFirst Tarvik will be downloaded and installed.\r\n"
              L"Afterwards the installation of Demo will commence.");
    EXPECT_EQ(table.asked, (std::vector<unsigned>{401, 402, 403, 404}));
}

TEST(InstallerTexts, InfoAddsNoSeparatorsAroundTheName) {
    RecordingTable table;
    table.texts[403] = L"[";
    table.texts[404] = L"]";
    EXPECT_EQ(InstallerInfo(L"", table.Source()),
              L"Welcome to the setup wizard.\r\n\r\nFirst Tarvik will be downloaded and installed.\r\n[]");
}

TEST(InstallerTexts, MissingTextStopsTheAssembly) {
    RecordingTable table;
    table.texts.erase(402);
    EXPECT_THROW(InstallerInfo(L"Demo", table.Source()), std::out_of_range);
    EXPECT_EQ(table.asked, (std::vector<unsigned>{401, 402}));
}

TEST(TagToStringId, DecimalDigits) {
    EXPECT_EQ(TagToStringId(L"410"), 410u);
    EXPECT_EQ(TagToStringId(L"0101"), 101u);
    EXPECT_EQ(TagToStringId(L"2147483647"), 2147483647u);
}

TEST(TagToStringId, AnythingElseFails) {
    EXPECT_THROW(TagToStringId(L""), std::invalid_argument);
    EXPECT_THROW(TagToStringId(L"41O"), std::invalid_argument);
    EXPECT_THROW(TagToStringId(L" 410"), std::invalid_argument);
    EXPECT_THROW(TagToStringId(L"-1"), std::invalid_argument);
    EXPECT_THROW(TagToStringId(L"2147483648"), std::out_of_range);
    EXPECT_THROW(TagToStringId(L"99999999999999999999999"), std::out_of_range);
}

}  // namespace
}  // namespace rvz
