// The wizard of the real test loader under Wine with a German user
// interface: every text from the string table in German, the fixed
// fragments as they are.
#include "WizardDriver.h"

#include <gtest/gtest.h>

namespace rvztest {
namespace {

TEST(WizardGerman, GermanTextsAroundTheFixedFragments) {
    WizardRun run(L"Demo");
    ExpectTexts(run, {L"Setup - Tarvik + Demo", L"Einstellungen", L"Tarvik mit Windows st&arten", L"&Installieren >",
                      L"Abbrechen", L"Tarvik + Demo Installationsassistent",
                      L"Willkommen beim Installationsassistent.\r\n\r\n"
                      L"Zun\u00e4chst wird Tarvik runtergeladen und installiert.\r\n"
                      L"Anschlie\u00dfend wird mit der Installation von Demo fortgefahren."});
}

TEST(WizardGerman, CancelQuestionInGerman) {
    WizardRun run(L"Demo");
    PressKey(run.wizard(), VK_ESCAPE);
    const HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "no cancel question";
    EXPECT_EQ(WindowText(box), L"Setup - Tarvik + Demo");
    EXPECT_NE(FindChildByText(box, L"M\u00f6chten Sie den Vorgang wirklich abbrechen?"), nullptr);
    EXPECT_EQ(WindowText(::GetDlgItem(box, IDYES)), L"&Ja");
    EXPECT_EQ(WindowText(::GetDlgItem(box, IDNO)), L"&Nein");
    PressButton(box, IDYES);
    EXPECT_EQ(run.WaitForExit(), static_cast<DWORD>(rvz::kExitWizardClosed));
}

}  // namespace
}  // namespace rvztest
