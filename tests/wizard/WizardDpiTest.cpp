// The wizard and the download dialog at the DPI of the Wine prefix that
// tests/wizard/at-dpi makes (RVZ_TEST_DPI names it), in the user's language:
// both windows lay out for that DPI and every caption fits its control. They
// run in this process, so that each control's own font can measure its text.
#include "DialogIds.h"
#include "Display.h"
#include "DownloadTestSupport.h"
#include "WinError.h"
#include "frmInstaller.h"
#include "frmInstallerDesign.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

namespace rvztest {
namespace {

int PrefixDpi() {
    wchar_t value[16] = L"";
    ::GetEnvironmentVariableW(L"RVZ_TEST_DPI", value, 16);
    return value[0] ? _wtoi(value) : 96;
}

// The text's size in the control's own font: one line, or wrapped at the
// control's width. Access keys' ampersands take no room.
SIZE TextExtent(HWND control, UINT lines) {
    RECT client;
    ::GetClientRect(control, &client);
    const std::wstring text = WindowText(control);
    const HDC dc = ::GetDC(control);
    const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    RECT extent{0, 0, client.right, 0};
    {
        const rvz::Selection selected(dc, font);
        ::DrawTextW(dc, text.c_str(), -1, &extent, DT_CALCRECT | lines);
    }
    ::ReleaseDC(control, dc);
    return {extent.right, extent.bottom};
}

// Room beside a caption for what the control draws there, in 96-dpi pixels.
constexpr int kButtonEdges = 4;      // two-pixel edges left and right
constexpr int kCheckBoxBox = 17;     // the 13-pixel box and the gap after it
constexpr int kFrameInset = 16;      // the caption starts 8 pixels in; as much after it

// Expects the caption on one line, with room beside it.
void ExpectCaptionFits(HWND control, int besideText, int dpi) {
    RECT client;
    ::GetClientRect(control, &client);
    const SIZE text = TextExtent(control, DT_SINGLELINE);
    EXPECT_LE(text.cx + ::MulDiv(besideText, dpi, 96), client.right) << Utf8(WindowText(control)) << " is cut";
    EXPECT_LE(text.cy, client.bottom) << Utf8(WindowText(control)) << " is cut";
}

// Expects the text, wrapped at the control's width, to fit its height.
void ExpectWrappedTextFits(HWND control) {
    RECT client;
    ::GetClientRect(control, &client);
    EXPECT_LE(TextExtent(control, DT_WORDBREAK).cy, client.bottom) << Utf8(WindowText(control)) << " is cut";
}

// The wizard on a thread of its own, as the loader shows it; closed at the end.
class WizardInThisProcess {
public:
    WizardInThisProcess() : thread_(::CreateThread(nullptr, 0, Run, nullptr, 0, nullptr)) {
        WaitUntil([this] {
            window_ = ::FindWindowW(L"RAVoduzaInstaller", nullptr);
            return window_ && ::IsWindowVisible(window_);
        });
    }
    ~WizardInThisProcess() {
        ::PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
        ::WaitForSingleObject(thread_.get(), 20000);
    }
    WizardInThisProcess(const WizardInThisProcess&) = delete;
    WizardInThisProcess& operator=(const WizardInThisProcess&) = delete;

    HWND window() const { return window_; }

private:
    static DWORD WINAPI Run(void*) {
        try {
            rvz::DeclareDpiAwareness();  // as the loader has done before its wizard
            rvz::RunInstallerWizard(L"Demo");
        } catch (...) {
        }
        return 0;
    }

    rvz::UniqueHandleKernel thread_;
    HWND window_ = nullptr;
};

TEST(AtDpi, WizardLaysOutForTheDpiAndEveryCaptionFits) {
    const int dpi = PrefixDpi();
    WizardInThisProcess wizard;
    ASSERT_NE(wizard.window(), nullptr);
    EXPECT_EQ(rvz::WindowDpi(wizard.window()), dpi);
    RECT client;
    ::GetClientRect(wizard.window(), &client);
    EXPECT_EQ(client.right, 497 * dpi / 96);
    EXPECT_EQ(client.bottom, 360 * dpi / 96);

    using namespace rvz::design;
    for (const auto& [id, besideText] : {std::pair{kSettingsId, kFrameInset}, {kAutostartId, kCheckBoxBox},
                                            {kInstallId, kButtonEdges}, {kCancelId, kButtonEdges}})
        ExpectCaptionFits(::GetDlgItem(wizard.window(), id), besideText, dpi);
    // The painted heading and information, measured through the windows
    // that name them for screen readers.
    const HWND title = ::GetWindow(wizard.window(), GW_CHILD);
    const HWND info = ::GetWindow(title, GW_HWNDNEXT);
    for (HWND label : {title, info}) ExpectWrappedTextFits(label);
}

TEST(AtDpi, DownloadDialogLaysOutForTheDpiAndEveryCaptionFits) {
    rvz::DeclareDpiAwareness();  // as the loader has done by the time it downloads
    const int dpi = PrefixDpi();
    const rvdltest::Library library;
    const std::wstring language = GermanInterface() ? L"RAVoduza_de.ini" : L"RAVoduza_en.ini";
    ASSERT_EQ(library.SetOption("language", rvz::ToAnsi(rvdltest::DistFolder() + language).c_str()), 1);
    const TempFolder folder;
    bool failed = false;
    // A refused connection: the failure, with Retry and Cancel, at once.
    rvdltest::RunDownload(
        library, nullptr, "http://127.0.0.1:" + std::to_string(rvdltest::UnusedPort()) + "/tarvik.exe",
        folder.path() + L"tarvik.exe", [&](rvdltest::DialogView& view) {
            failed = !view.WaitForFailure().empty();
            EXPECT_EQ(rvz::WindowDpi(view.window()), dpi);
            for (int id : {rvdl::kRetryId, rvdl::kCancelId}) ExpectCaptionFits(view.Control(id), kButtonEdges, dpi);
            for (int id : {rvdl::kHeadingId, rvdl::kSourceId}) ExpectCaptionFits(view.Control(id), 0, dpi);
            ExpectWrappedTextFits(view.Control(rvdl::kMessageId));
            view.Press(rvdl::kCancelId);
        });
    EXPECT_TRUE(failed);
}

}  // namespace
}  // namespace rvztest
