#include "DownloadDialog.h"

#include "CredentialsPrompt.h"
#include "DialogIds.h"
#include "Display.h"
#include "RAVoduza_Download.h"
#include "basFiles.h"

#include <commctrl.h>
#include <shellapi.h>

namespace rvdl {

namespace {

constexpr UINT kTransferEnded = WM_APP + 1;
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 100;

// Layout in units of 1/96 inch: a white page with the heading, the source,
// the bar and the figures, above a grey band with the buttons.
constexpr int kWidth = 500;
constexpr int kMargin = 24;
constexpr int kFooterTop = 160;
constexpr int kHeight = 212;
constexpr int kButtonWidth = 92;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
constexpr int kRight = kWidth - kMargin;
constexpr int kFiguresSplit = kWidth / 2 + 40;  // between the amount and the rate
constexpr int kButtonTop = kFooterTop + (kHeight - kFooterTop - kButtonHeight) / 2;
constexpr int kButtonBottom = kButtonTop + kButtonHeight;
constexpr int kCancelLeft = kRight - kButtonWidth;
constexpr int kRetryLeft = kCancelLeft - kButtonGap - kButtonWidth;

constexpr COLORREF kPageColor = RGB(255, 255, 255);
constexpr COLORREF kBandColor = RGB(240, 240, 240);
constexpr COLORREF kBandLineColor = RGB(223, 223, 223);
constexpr COLORREF kHeadingColor = RGB(0, 51, 153);
constexpr COLORREF kFailedColor = RGB(178, 34, 34);
constexpr COLORREF kQuietColor = RGB(96, 96, 96);
constexpr COLORREF kTextColor = RGB(0, 0, 0);

constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_ENDELLIPSIS;
constexpr DWORD kButtonStyle = WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON;

// Every control, in tab order, with its place in units of 1/96 inch: the
// one source of the layout at any DPI.
struct ControlDesign {
    const wchar_t* windowClass;
    int id;
    DWORD style;
    RECT place;
    // Made only once a download failed: every window costs its making and
    // its closing, and most downloads never fail.
    bool forFailure = false;
};

constexpr ControlDesign kControls[] = {
    {L"STATIC", kHeadingId, kLabelStyle, {kMargin, 20, kRight, 48}},
    {L"STATIC", kSourceId, kLabelStyle, {kMargin, 50, kRight, 70}},
    {PROGRESS_CLASSW, kProgressId, WS_CHILD | WS_VISIBLE, {kMargin, 86, kRight, 104}},
    {L"STATIC", kAmountId, kLabelStyle, {kMargin, 114, kFiguresSplit, 134}},
    {L"STATIC", kRateId, kLabelStyle | SS_RIGHT, {kFiguresSplit, 114, kRight, 134}},
    // Shown instead of the bar and the figures when the download failed.
    {L"STATIC", kMessageId, WS_CHILD | SS_NOPREFIX | SS_LEFT, {kMargin, 84, kRight, 150}, true},
    {L"BUTTON", kRetryId, kButtonStyle, {kRetryLeft, kButtonTop, kRetryLeft + kButtonWidth, kButtonBottom}, true},
    {L"BUTTON", kCancelId, kButtonStyle | WS_VISIBLE, {kCancelLeft, kButtonTop, kRight, kButtonBottom}},
};

// The module that holds the dialog's code, its window class and manifest.
HMODULE OwnModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<const wchar_t*>(&OwnModule), &module);
    return module;
}

// The library's own manifest (resource 2), which asks for the version 6
// common controls, to be active while the dialog's windows are made: themed
// buttons and a bar that can show a marquee, whatever the host program's
// manifest says. The loader made that context when it loaded the library;
// building it again would search the side-by-side store at every download.
// Only where the loader made none is it built here, as Windows' own
// isolation-aware headers do.
rvz::UniqueActivationContext LibraryContext(HMODULE module) {
    ACTIVATION_CONTEXT_BASIC_INFORMATION own{};
    if (::QueryActCtxW(QUERY_ACTCTX_FLAG_ACTCTX_IS_HMODULE, module, nullptr, ActivationContextBasicInformation,
                       &own, sizeof(own), nullptr) &&
        own.hActCtx)
        return rvz::UniqueActivationContext(own.hActCtx);
    return rvz::ManifestContext(module, 2);
}

// The work area to centre on: the owner's window when it shows, otherwise
// the monitor under the mouse.
RECT CentreArea(HWND owner) {
    RECT area{};
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner) && ::GetWindowRect(owner, &area))
        return area;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor.rcWork;
}

}  // namespace

DownloadDialog::DownloadDialog(const Texts& texts, DownloadRequest request)
    : texts_(texts),
      request_(std::move(request)),
      host_(HostOfUrl(request_.url)),
      fileName_(rvz::GetFileNamePart(request_.target)) {}

DownloadDialog::~DownloadDialog() = default;

bool DownloadDialog::Run() {
    if (!Create()) return false;
    const HWND owner = request_.owner;
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (disableOwner) ::EnableWindow(owner, FALSE);

    // Only the figures are set before the show. What the transfer met while
    // the dialog was made (a sign-in, its end) waits in the queue as its
    // message, and is taken up with the dialog in view.
    ShowProgress(transfer_->Progress());
    ::SetTimer(hwnd(), kTickTimer, kTickMs, nullptr);
    ::ShowWindow(hwnd(), SW_SHOW);
    ::SetForegroundWindow(hwnd());
    ::SetFocus(Control(kCancelId));

    // A modal loop of our own; a quit request ends it as a cancel and is
    // passed on to the host's loop.
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (!ended_) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            quitCode = msg.wParam;
            End(false);
            break;
        }
        if (!::IsDialogMessageW(hwnd(), &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    // The owner comes back before the dialog goes, so that it gets the focus.
    if (disableOwner) ::EnableWindow(owner, TRUE);
    DestroyNow();
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    RethrowHandlerFailure();
    return succeeded_;
}

bool DownloadDialog::Create() {
    // The transfer connects while the window and its controls are made.
    StartTransfer();
    const HMODULE module = OwnModule();
    const rvz::ActivationScope activation(LibraryContext(module));
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    WNDCLASSEXW windowClass{};
    windowClass.hInstance = module;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = RVDL_DIALOG_CLASS;
    Register(windowClass);

    // Unowned, the dialog is the only window the user sees: give it a
    // taskbar button with the program's icon.
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT |
                          (request_.owner ? 0 : WS_EX_APPWINDOW);
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const HWND window = CreateWindowOf(exStyle, request_.title.c_str(), style, 0, 0, 0, 0,
                                       request_.owner);
    if (!window) return false;
    transfer_->NotifyTo(window, kTransferEnded);
    Layout(rvz::WindowDpi(window));
    SetText(kHeadingId, texts_.Format(TextId::Heading, {{L"file", fileName_}}));
    SetText(kSourceId, texts_.Format(TextId::Source, {{L"host", host_}}));
    SetText(kCancelId, texts_.Get(TextId::Cancel));
    Place();

    const std::optional<std::wstring> program = rvz::ModuleFileName(nullptr);
    if (program && ::ExtractIconExW(program->c_str(), 0, bigIcon_.put(), smallIcon_.put(), 1) > 0) {
        ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
        ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    }
    return true;
}

void DownloadDialog::CreateFonts() {
    // The system's message font is made for the screen's DPI.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = ::MulDiv(font.lfHeight, dpi_, rvz::SystemDpi());
    font_.reset(::CreateFontIndirectW(&font));
    font.lfHeight = ::MulDiv(font.lfHeight, 4, 3);
    headingFont_.reset(::CreateFontIndirectW(&font));
}

void DownloadDialog::Layout(int dpi) {
    dpi_ = dpi;
    // The old fonts go at the end, once no control uses them any more.
    const rvz::UniqueFont oldFont(font_.release()), oldHeadingFont(headingFont_.release());
    CreateFonts();
    for (const ControlDesign& control : kControls) {
        const HWND window = Control(control.id);
        if (!window) continue;
        const RECT place = Scale(control.place);
        ::SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left,
                       place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control.id)), ::IsWindowVisible(hwnd()));
    }
    footerTop_ = Scale(kFooterTop);
    MakeControls();
}

void DownloadDialog::MakeControls() {
    HWND previous = HWND_TOP;
    for (const ControlDesign& control : kControls) {
        HWND window = Control(control.id);
        if (!window && (failed_ || !control.forFailure)) {
            const RECT place = Scale(control.place);
            window = ::CreateWindowExW(0, control.windowClass, L"", control.style, place.left, place.top,
                                       place.right - place.left, place.bottom - place.top, hwnd(),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                       OwnModule(), nullptr);
            if (!window) continue;
            // One made after the others goes to its place in the tab order.
            if (failed_)
                ::SetWindowPos(window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control.id)), FALSE);
        }
        if (window) previous = window;
    }
}

RECT DownloadDialog::Scale(const RECT& design) const {
    // The size scaled as a whole: its rounding does not depend on the place.
    const int left = Scale(design.left);
    const int top = Scale(design.top);
    return RECT{left, top, left + Scale(design.right - design.left), top + Scale(design.bottom - design.top)};
}

HFONT DownloadDialog::FontFor(int id) const {
    return id == kHeadingId ? headingFont_.get() : font_.get();
}

void DownloadDialog::OnDpiChanged(int dpi, const RECT& suggested) {
    ::SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout(dpi);
    ::InvalidateRect(hwnd(), nullptr, TRUE);
}

void DownloadDialog::Place() {
    RECT frame{0, 0, Scale(kWidth), Scale(kHeight)};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(hwnd(), GWL_STYLE)),
                         FALSE, static_cast<DWORD>(::GetWindowLongW(hwnd(), GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const RECT area = CentreArea(request_.owner);
    const int left = area.left + (area.right - area.left - width) / 2;
    const int top = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(hwnd(), nullptr, left, top, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void DownloadDialog::SetText(int id, const std::wstring& text) {
    // Only real changes: rewriting the same text ten times a second flickers.
    wchar_t current[512];
    const int length = ::GetWindowTextW(Control(id), current, 512);
    if (text.compare(0, std::wstring::npos, current, static_cast<size_t>(length)) != 0)
        ::SetWindowTextW(Control(id), text.c_str());
}

LRESULT DownloadDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_TIMER:
        case kTransferEnded:
            OnTick();
            return 0;
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT covers every pixel
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(
                OnColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
        case WM_SYSCOLORCHANGE:  // the common controls repaint only when told
            for (HWND child = ::GetWindow(hwnd(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
                ::SendMessageW(child, message, wParam, lParam);
            [[fallthrough]];
        case WM_SETTINGCHANGE:  // high contrast may have come or gone
            ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_CLOSE:
            OnCommand(kCancelId);
            return 0;
        case WM_DESTROY:
            End(false);  // destroyed from outside, say with its owner: over
            return 0;
        case DM_GETDEFID:
            // Enter retries a failed download; while it runs, Enter does nothing.
            return failed_ ? MAKELRESULT(kRetryId, DC_HASDEFID) : 0;
        default:
            return Default(message, wParam, lParam);
    }
}

void DownloadDialog::OnCommand(int id) {
    if (id == kCancelId) {
        End(false);
    } else if (id == kRetryId && failed_) {
        failed_ = false;
        ShowFailureParts(false);
        SetText(kHeadingId, texts_.Format(TextId::Heading, {{L"file", fileName_}}));
        ::SendMessageW(Control(kProgressId), PBM_SETPOS, 0, 0);
        ::SetFocus(Control(kCancelId));
        StartTransfer();
        OnTick();
    }
}

void DownloadDialog::StartTransfer() {
    speed_.Reset();
    transfer_ = std::make_unique<Transfer>(request_.url, request_.target);
    if (hwnd()) transfer_->NotifyTo(hwnd(), kTransferEnded);
}

void DownloadDialog::OnTick() {
    if (!transfer_ || failed_ || ended_ || prompting_) return;
    const bool over = transfer_->Poll();
    const TransferProgress progress = transfer_->Progress();
    // The dialog closes at once: no last figures that nobody would see.
    if (over && progress.phase == TransferPhase::Succeeded && transfer_->Commit()) {
        End(true);
        return;
    }
    ShowProgress(progress);
    if (progress.phase == TransferPhase::Credentials) AskForCredentials(progress.signIn);
    if (over) ShowFailure(transfer_->Outcome());
}

void DownloadDialog::ShowProgress(const TransferProgress& progress) {
    speed_.Add(::GetTickCount64(), progress.done);
    SetBar(progress);
    switch (progress.phase) {
        case TransferPhase::Connecting:
        case TransferPhase::Credentials:
            SetText(kAmountId, texts_.Format(TextId::Connecting, {{L"host", host_}}));
            SetText(kRateId, L"");
            break;
        case TransferPhase::Busy:
            SetText(kAmountId,
                    texts_.Format(TextId::Busy,
                                  {{L"seconds", std::to_wstring((progress.busyWaitLeftMs + 999) / 1000)},
                                   {L"attempt", std::to_wstring(progress.busyRetries)},
                                   {L"attempts", std::to_wstring(kMaxBusyRetries)}}));
            SetText(kRateId, L"");
            break;
        case TransferPhase::Resuming:
            SetText(kAmountId, texts_.Format(TextId::Resuming,
                                             {{L"attempt", std::to_wstring(progress.resumes)},
                                              {L"attempts", std::to_wstring(kMaxResumes)}}));
            SetText(kRateId, L"");
            break;
        default: {
            const ProgressText text =
                DescribeProgress(texts_, progress.done, progress.total, speed_.BytesPerSecond());
            SetText(kAmountId, text.amount);
            SetText(kRateId, text.rate);
        }
    }
}

void DownloadDialog::SetBar(const TransferProgress& progress) {
    const HWND bar = Control(kProgressId);
    const std::optional<int> permille =
        progress.phase == TransferPhase::Connecting ? std::nullopt
                                                    : Permille(progress.done, progress.total);
    const bool marquee = !permille && !failed_;
    if (marquee != marquee_) {
        marquee_ = marquee;
        const LONG style = ::GetWindowLongW(bar, GWL_STYLE);
        ::SetWindowLongW(bar, GWL_STYLE, marquee ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
        ::SendMessageW(bar, PBM_SETMARQUEE, marquee, 30);
        ::SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
    }
    if (permille) ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(*permille), 0);
}

void DownloadDialog::AskForCredentials(SignIn who) {
    prompting_ = true;
    const std::wstring question = who == SignIn::Proxy
                                      ? texts_.Get(TextId::CredentialsProxy)
                                      : texts_.Format(TextId::CredentialsServer, {{L"host", host_}});
    std::optional<Credentials> answer =
        PromptForCredentials(hwnd(), texts_, request_.title, question);
    prompting_ = false;
    // The dialog may have ended while the prompt was open.
    if (transfer_) transfer_->AnswerCredentials(std::move(answer));
}

void DownloadDialog::ShowFailure(const FailureDetails& details) {
    // The transfer goes now, and its temporary file with it.
    transfer_.reset();
    failed_ = true;
    MakeControls();
    SetText(kRetryId, texts_.Get(TextId::Retry));
    SetBar(TransferProgress{TransferPhase::Failed, 0, std::nullopt, 0});
    SetText(kHeadingId, texts_.Format(TextId::FailedHeading, {{L"file", fileName_}}));
    SetText(kMessageId, DescribeFailure(texts_, details, request_.url));
    ShowFailureParts(true);
    ::SendMessageW(Control(kRetryId), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    ::SetFocus(Control(kRetryId));
    // Retry has the focus, so a screen reader would name only it: the
    // reason is announced as an alert and as a changed live region.
    for (DWORD event : {DWORD{EVENT_SYSTEM_ALERT}, DWORD{EVENT_OBJECT_LIVEREGIONCHANGED}})
        ::NotifyWinEvent(event, Control(kMessageId), OBJID_CLIENT, CHILDID_SELF);
}

void DownloadDialog::ShowFailureParts(bool failed) {
    for (int id : {kProgressId, kAmountId, kRateId}) ::ShowWindow(Control(id), failed ? SW_HIDE : SW_SHOW);
    for (int id : {kMessageId, kRetryId}) ::ShowWindow(Control(id), failed ? SW_SHOW : SW_HIDE);
}

void DownloadDialog::End(bool succeeded) noexcept {
    if (ended_) return;
    ended_ = true;
    succeeded_ = succeeded;
    ::KillTimer(hwnd(), kTickTimer);
    transfer_.reset();
}

void DownloadDialog::OnPaint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(hwnd(), &paint);
    RECT client;
    ::GetClientRect(hwnd(), &client);
    RECT page = client;
    page.bottom = footerTop_;
    RECT band = client;
    band.top = footerTop_ + 1;
    RECT line = client;
    line.top = footerTop_;
    line.bottom = footerTop_ + 1;
    // Under high contrast, the system's colours for a window and its buttons.
    const bool system = rvz::HighContrastOn();
    const struct {
        const RECT& rect;
        COLORREF color;
    } fills[] = {{page, system ? ::GetSysColor(COLOR_WINDOW) : kPageColor},
                 {line, system ? ::GetSysColor(COLOR_WINDOWTEXT) : kBandLineColor},
                 {band, system ? ::GetSysColor(COLOR_BTNFACE) : kBandColor}};
    for (const auto& fill : fills) {
        ::SetBkColor(dc, fill.color);
        ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &fill.rect, nullptr, 0, nullptr);
    }
    ::EndPaint(hwnd(), &paint);
}

HBRUSH DownloadDialog::OnColorStatic(HDC dc, HWND control) {
    if (rvz::HighContrastOn()) {
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return ::GetSysColorBrush(COLOR_WINDOW);
    }
    const int id = ::GetDlgCtrlID(control);
    COLORREF color = kTextColor;
    if (id == kHeadingId) color = failed_ ? kFailedColor : kHeadingColor;
    if (id == kSourceId || id == kRateId) color = kQuietColor;
    ::SetTextColor(dc, color);
    ::SetBkColor(dc, kPageColor);
    return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

}  // namespace rvdl
