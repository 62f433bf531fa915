// The wizard of the real test loader under Wine, in English: layout to the
// pixel at 96 dpi, texts, what a screen reader finds, keyboard and the ways
// it ends.
#include "WizardDriver.h"

#include <gtest/gtest.h>
#include <oleacc.h>

#include <iterator>
#include <utility>
#include <vector>

namespace rvztest {
namespace {

const std::wstring kInfoDemo =
    L"Welcome to the setup wizard.\r\n\r\nFirst Tarvik will be downloaded and installed.\r\n"
    L"Afterwards the installation of Demo will commence.";

void ExpectRect(const RECT& actual, int left, int top, int width, int height, const char* what) {
    EXPECT_EQ(actual.left, left) << what;
    EXPECT_EQ(actual.top, top) << what;
    EXPECT_EQ(actual.right - actual.left, width) << what;
    EXPECT_EQ(actual.bottom - actual.top, height) << what;
}

LONG ButtonType(HWND button) { return ::GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK; }

LRESULT CheckState(HWND checkBox) {
    DWORD_PTR state = 0;
    ::SendMessageTimeoutW(checkBox, BM_GETCHECK, 0, 0, SMTO_BLOCK, 10000, &state);
    return static_cast<LRESULT>(state);
}

// The install road is the install action's to test; here it only matters
// that Install, not Cancel or a crash, ended the wizard.
void ExpectInstallPressed(const WizardRun& run) {
    const DWORD code = run.WaitForExit();
    EXPECT_NE(code, static_cast<DWORD>(STILL_ACTIVE)) << "the loader did not end";
    EXPECT_NE(code, static_cast<DWORD>(rvz::kExitWizardClosed));
    EXPECT_NE(code, static_cast<DWORD>(rvz::kExitUnexpectedError));
}

TEST(Wizard, FixedWindowCentredWithoutOwner) {
    WizardRun run(L"Demo");
    RECT client;
    ::GetClientRect(run.wizard(), &client);
    EXPECT_EQ(client.right, 497);
    EXPECT_EQ(client.bottom, 360);

    const LONG style = ::GetWindowLongW(run.wizard(), GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "the window must not resize";
    EXPECT_EQ(::GetWindow(run.wizard(), GW_OWNER), nullptr);

    RECT frame;
    ::GetWindowRect(run.wizard(), &frame);
    POINT origin{0, 0};
    ::ClientToScreen(run.wizard(), &origin);
    EXPECT_EQ(origin.x - frame.left, 3) << "a fixed three-pixel border";
    EXPECT_EQ(frame.right - (origin.x + 497), 3);
    EXPECT_NEAR(frame.left, (::GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2, 1);
    EXPECT_NEAR(frame.top, (::GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2, 1);
}

TEST(Wizard, ChildWindowsWhereDesigned) {
    WizardRun run(L"Demo");
    ExpectRect(ClientRectOf(run.control(kSettingsId)), 176, 240, 297, 57, "fraSettings");
    ExpectRect(ClientRectOf(run.control(kAutostartId)), 192, 264, 217, 17, "chkAutostart");
    ExpectRect(ClientRectOf(run.control(kInstallId)), 328, 326, 73, 25, "cmdInstall");
    ExpectRect(ClientRectOf(run.control(kCancelId)), 412, 326, 73, 25, "cmdCancel");

    EXPECT_EQ(ButtonType(run.control(kSettingsId)), BS_GROUPBOX);
    EXPECT_EQ(ButtonType(run.control(kAutostartId)), BS_AUTOCHECKBOX);
    EXPECT_EQ(ButtonType(run.control(kInstallId)), BS_DEFPUSHBUTTON);
    EXPECT_EQ(ButtonType(run.control(kCancelId)), BS_PUSHBUTTON);
}

TEST(Wizard, PaintedElementsWhereDesigned) {
    WizardRun run(L"Demo");
    const Pixels picture = LoadPicture(run.loaderPath());
    ASSERT_EQ(picture.width, 164);
    ASSERT_EQ(picture.height, 314);
    // Its bottom two rows lie under the separator lines.
    Pixels visible{164, 312, {picture.values.begin(), picture.values.begin() + 164 * 312}};
    Pixels shown;
    WaitUntil([&] {
        shown = CaptureClient(run.wizard(), {0, 0, 164, 312});
        return shown == visible;
    });
    EXPECT_EQ(shown.Differences(visible), 0u) << "imgSetup at (0, 0), not stretched";

    EXPECT_TRUE(CaptureClient(run.wizard(), {164, 0, 176, 312}).AllOf(::GetSysColor(COLOR_WINDOW)))
        << "window background right of the picture";
    EXPECT_TRUE(CaptureClient(run.wizard(), {0, 312, 497, 313}).AllOf(::GetSysColor(COLOR_BTNSHADOW)))
        << "linSeperator 0 along y 312";
    EXPECT_TRUE(CaptureClient(run.wizard(), {0, 313, 497, 314}).AllOf(::GetSysColor(COLOR_WINDOW)))
        << "linSeperator 1 along y 313";
    // The strip around the buttons, down to the bottom edge.
    for (const RECT& strip : {RECT{0, 314, 328, 360}, RECT{328, 314, 497, 326}, RECT{401, 326, 412, 351},
                              RECT{485, 326, 497, 351}, RECT{328, 351, 497, 360}})
        EXPECT_TRUE(CaptureClient(run.wizard(), strip).AllOf(::GetSysColor(COLOR_BTNFACE)))
            << "shpButtons at " << strip.left << "," << strip.top;
}

TEST(Wizard, EnglishTexts) {
    WizardRun run(L"Demo");
    ExpectTexts(run, {L"Setup - Tarvik + Demo", L"Settings", L"St&art Tarvik with Windows", L"&Install >", L"Cancel",
                      L"Tarvik + Demo Setup wizard", kInfoDemo});
}

// The names of a window's accessible children, in the order an
// accessibility client (a screen reader) meets them.
std::vector<std::wstring> AccessibleNames(HWND window) {
    std::vector<std::wstring> names;
    IAccessible* client = nullptr;
    const HRESULT found =
        ::AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&client));
    if (FAILED(found)) {
        ADD_FAILURE() << "no accessible object: " << std::hex << found;
        return names;
    }
    long count = 0;
    client->get_accChildCount(&count);
    std::vector<VARIANT> children(static_cast<size_t>(count));
    long got = 0;
    const HRESULT listed = ::AccessibleChildren(client, 0, count, children.data(), &got);
    if (FAILED(listed)) ADD_FAILURE() << "no children: " << std::hex << listed;
    for (long i = 0; i < got; ++i) {
        VARIANT& child = children[static_cast<size_t>(i)];
        BSTR name = nullptr;
        if (child.vt == VT_DISPATCH) {
            // A child window: its name is its client part's (Wine names only that).
            IAccessible* object = nullptr;
            HWND childWindow = nullptr;
            if (SUCCEEDED(child.pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&object)))) {
                ::WindowFromAccessibleObject(object, &childWindow);
                object->Release();
            }
            IAccessible* content = nullptr;
            if (childWindow && SUCCEEDED(::AccessibleObjectFromWindow(childWindow, OBJID_CLIENT, __uuidof(IAccessible),
                                                                      reinterpret_cast<void**>(&content)))) {
                VARIANT self{};
                self.vt = VT_I4;
                self.lVal = CHILDID_SELF;
                content->get_accName(self, &name);
                content->Release();
            }
        } else {
            client->get_accName(child, &name);
        }
        names.push_back(name ? std::wstring(name, ::SysStringLen(name)) : L"(no name)");
        ::SysFreeString(name);
        ::VariantClear(&child);
    }
    client->Release();
    return names;
}

TEST(Wizard, ScreenReaderReadsEveryTextInReadingOrder) {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    const rvz::ScopeExit uninitialize([] { ::CoUninitialize(); });
    WizardRun run(L"Demo");
    EXPECT_EQ(AccessibleNames(run.wizard()),
              (std::vector<std::wstring>{L"Tarvik + Demo Setup wizard", kInfoDemo, L"Settings",
                                         L"Start Tarvik with Windows", L"Install >", L"Cancel"}));
    // The names cost no pixel: the labels show as designed.
    ExpectLabels(run.wizard(), L"Tarvik + Demo Setup wizard", kInfoDemo);
}

// A white-on-black scheme of system colours, as a user with low vision
// picks it, and high contrast on where a program may switch it on (Wine
// knows no such switch); everything as it was again at the end.
class WhiteOnBlackScheme {
public:
    WhiteOnBlackScheme() {
        for (size_t i = 0; i < std::size(kElements); ++i) saved_[i] = ::GetSysColor(kElements[i]);
        ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast_), &contrast_, 0);
        HIGHCONTRASTW on{sizeof(on), contrast_.dwFlags | HCF_HIGHCONTRASTON, nullptr};
        ::SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(on), &on, SPIF_SENDCHANGE);
        const COLORREF scheme[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 255, 255)};
        ::SetSysColors(static_cast<int>(std::size(kElements)), kElements, scheme);
    }
    ~WhiteOnBlackScheme() {
        ::SetSysColors(static_cast<int>(std::size(kElements)), kElements, saved_);
        HIGHCONTRASTW before{sizeof(before), contrast_.dwFlags, nullptr};
        ::SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(before), &before, SPIF_SENDCHANGE);
    }
    WhiteOnBlackScheme(const WhiteOnBlackScheme&) = delete;
    WhiteOnBlackScheme& operator=(const WhiteOnBlackScheme&) = delete;

private:
    static constexpr int kElements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT};
    COLORREF saved_[std::size(kElements)]{};
    HIGHCONTRASTW contrast_{sizeof(HIGHCONTRASTW), 0, nullptr};
};

TEST(Wizard, WhiteOnBlackSchemeShowsEveryTextInTheSystemColours) {
    const WhiteOnBlackScheme scheme;
    WizardRun run(L"Demo");
    ExpectLabels(run.wizard(), L"Tarvik + Demo Setup wizard", kInfoDemo, ::GetSysColor(COLOR_WINDOWTEXT));
    // The check box's and the frame's captions, right of the box and in the
    // frame's top edge: white letters where black ones would not show.
    for (const auto& [id, caption] : {std::pair{kAutostartId, RECT{16, 0, 217, 17}},
                                      std::pair{kSettingsId, RECT{6, 0, 80, 12}}}) {
        const RECT control = ClientRectOf(run.control(id));
        const RECT place{control.left + caption.left, control.top + caption.top, control.left + caption.right,
                         control.top + caption.bottom};
        EXPECT_TRUE(WaitUntil([&] { return CaptureClient(run.wizard(), place).Count(::GetSysColor(COLOR_WINDOWTEXT)) > 20; }))
            << "control " << id;
    }
    EXPECT_TRUE(CaptureClient(run.wizard(), {164, 0, 176, 312}).AllOf(::GetSysColor(COLOR_WINDOW)));
}

TEST(Wizard, EmptyAppNameKeepsTheBlanks) {
    WizardRun run(L"");
    EXPECT_EQ(WindowText(run.wizard()), L"Setup - Tarvik + ");
    ExpectLabels(run.wizard(), L"Tarvik +  Setup wizard",
                 L"Welcome to the setup wizard.\r\n\r\nFirst Tarvik will be downloaded and installed.\r\n"
                 L"Afterwards the installation of  will commence.");
}

TEST(Wizard, LongAppNameWrapsInsideFixedLabels) {
    const std::wstring name =
        L"Regional Grid Planning Suite with Extended Forecasting and Reporting for Distribution Networks";
    auto frameSize = [](HWND window) {
        RECT r;
        ::GetWindowRect(window, &r);
        return std::make_pair(r.right - r.left, r.bottom - r.top);
    };
    const int ids[] = {kSettingsId, kAutostartId, kInstallId, kCancelId};
    std::pair<LONG, LONG> longFrame;
    RECT longPlaces[4];
    {
        // One loader at a time: the second start would step aside.
        WizardRun longRun(name);
        ExpectLabels(longRun.wizard(), L"Tarvik + " + name + L" Setup wizard",
                     L"Welcome to the setup wizard.\r\n\r\nFirst Tarvik will be downloaded and installed.\r\n"
                     L"Afterwards the installation of " + name + L" will commence.");
        // Nothing spills out of the labels, which are cut off at their bottom edges.
        EXPECT_TRUE(CaptureClient(longRun.wizard(), {176, 57, 473, 72}).AllOf(::GetSysColor(COLOR_WINDOW)));
        EXPECT_TRUE(CaptureClient(longRun.wizard(), {176, 225, 473, 240}).AllOf(::GetSysColor(COLOR_WINDOW)));
        longFrame = frameSize(longRun.wizard());
        for (int i = 0; i < 4; ++i) longPlaces[i] = ClientRectOf(longRun.control(ids[i]));
    }

    // Nothing moves either: the same places as with a short name.
    WizardRun shortRun(L"Demo");
    EXPECT_EQ(longFrame, frameSize(shortRun.wizard()));
    for (int i = 0; i < 4; ++i) {
        const RECT b = ClientRectOf(shortRun.control(ids[i]));
        EXPECT_TRUE(::EqualRect(&longPlaces[i], &b)) << "control " << ids[i];
    }
}

TEST(Wizard, OpensWithInstallFocusedAndTheBoxChecked) {
    WizardRun run(L"Demo");
    EXPECT_EQ(FocusOf(run.wizard()), run.control(kInstallId));
    EXPECT_EQ(CheckState(run.control(kAutostartId)), BST_CHECKED);
}

TEST(Wizard, TabCyclesInstallCancelCheckBoxAndTheDefaultFollows) {
    WizardRun run(L"Demo");
    const HWND install = run.control(kInstallId);
    const HWND cancel = run.control(kCancelId);
    const HWND checkBox = run.control(kAutostartId);
    // The focus shows before the focused control has handled it.
    auto isDefault = [](HWND button) {
        return WaitUntil([&] { return ButtonType(button) == BS_DEFPUSHBUTTON; });
    };

    PressKey(run.wizard(), VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(run.wizard()) == cancel; }));
    EXPECT_TRUE(isDefault(cancel)) << "a focused button is the default";
    EXPECT_EQ(ButtonType(install), BS_PUSHBUTTON);

    PressKey(run.wizard(), VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(run.wizard()) == checkBox; }));
    EXPECT_TRUE(isDefault(install)) << "Install is the default again";
    EXPECT_EQ(ButtonType(cancel), BS_PUSHBUTTON);

    PressKey(run.wizard(), VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(run.wizard()) == install; })) << "the cycle closes";
    EXPECT_EQ(CheckState(checkBox), BST_CHECKED) << "passing the box does not change it";
}

TEST(Wizard, EnterOnCancelAsksAndNoKeepsTheWizard) {
    WizardRun run(L"Demo");
    const HWND cancel = run.control(kCancelId);
    PressKey(run.wizard(), VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(run.wizard()) == cancel; }));
    PressKey(run.wizard(), VK_RETURN);

    const HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "no cancel question";
    EXPECT_EQ(WindowText(box), L"Setup - Tarvik + Demo") << "titled with the window's caption";
    EXPECT_NE(FindChildByText(box, L"Do you really wish to cancel the process?"), nullptr);
    EXPECT_NE(::GetDlgItem(box, IDYES), nullptr);
    EXPECT_NE(::GetDlgItem(box, IDNO), nullptr);
    EXPECT_EQ(::GetDlgItem(box, IDOK), nullptr) << "Yes and No only";
    EXPECT_EQ(::GetWindow(box, GW_OWNER), run.wizard());

    PressButton(box, IDNO);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
    EXPECT_TRUE(run.process().Running());
    EXPECT_TRUE(::IsWindowVisible(run.wizard()));
    EXPECT_EQ(WindowText(run.wizard()), L"Setup - Tarvik + Demo");
    EXPECT_EQ(CheckState(run.control(kAutostartId)), BST_CHECKED);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(run.wizard()) == cancel; })) << "focus back where it was";

    // Still usable: the keyboard moves on from there.
    PressKey(run.wizard(), VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(run.wizard()) == run.control(kAutostartId); }));
}

TEST(Wizard, EscapeAsksAndYesEndsTheProgram) {
    WizardRun run(L"Demo");
    PressKey(run.wizard(), VK_ESCAPE);
    const HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "no cancel question";
    PressButton(box, IDYES);
    EXPECT_EQ(run.WaitForExit(), static_cast<DWORD>(rvz::kExitWizardClosed));
}

TEST(Wizard, EnterOnTheCheckBoxPressesInstall) {
    WizardRun run(L"Demo");
    const HWND checkBox = run.control(kAutostartId);
    PressKey(run.wizard(), VK_TAB);
    PressKey(run.wizard(), VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(run.wizard()) == checkBox; }));
    PressKey(run.wizard(), VK_RETURN);
    ExpectInstallPressed(run);
}

TEST(Wizard, AltIPressesInstall) {
    WizardRun run(L"Demo");
    PressAltKey(run.wizard(), L'i');
    ExpectInstallPressed(run);
}

TEST(Wizard, AltAClearsTheBoxWhichIsCheckedAgainAtTheNextOpen) {
    {
        WizardRun run(L"Demo");
        PressAltKey(run.wizard(), L'a');
        EXPECT_TRUE(WaitUntil([&] { return CheckState(run.control(kAutostartId)) == BST_UNCHECKED; }));
        EXPECT_EQ(FocusOf(run.wizard()), run.control(kAutostartId));
        ::PostMessageW(run.wizard(), WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(run.WaitForExit(), static_cast<DWORD>(rvz::kExitWizardClosed));
    }
    WizardRun again(L"Demo");
    EXPECT_EQ(CheckState(again.control(kAutostartId)), BST_CHECKED);
}

TEST(Wizard, CloseBoxEndsTheProgramWithoutAsking) {
    WizardRun run(L"Demo");
    ::PostMessageW(run.wizard(), WM_SYSCOMMAND, SC_CLOSE, 0);
    // A cancel question would keep the loader running.
    EXPECT_EQ(run.WaitForExit(), static_cast<DWORD>(rvz::kExitWizardClosed));
}

TEST(Wizard, AltF4EndsTheProgramWithoutAsking) {
    WizardRun run(L"Demo");
    constexpr LPARAM kAltDown = 1 << 29;
    const HWND focus = FocusOf(run.wizard());
    ::PostMessageW(focus, WM_SYSKEYDOWN, VK_F4, 1 | kAltDown);
    ::PostMessageW(focus, WM_SYSKEYUP, VK_F4, 1 | kAltDown | 0xC0000000);
    EXPECT_EQ(run.WaitForExit(), static_cast<DWORD>(rvz::kExitWizardClosed));
}

}  // namespace
}  // namespace rvztest
