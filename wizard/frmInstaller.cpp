#include "frmInstaller.h"

#include "BaseWindow.h"
#include "Display.h"
#include "Handles.h"
#include "InstallerTexts.h"
#include "Strings.h"
#include "WinError.h"
#include "frmInstallerDesign.h"
#include "resource.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>

namespace rvz {

namespace {

// A fixed border, no resizing; a minimise box is harmless and handy.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// A bitmap selected into a memory device context compatible with another.
struct MemoryCanvas {
    UniqueMemoryDc dc;
    Selection selection;

    MemoryCanvas(HDC compatibleWith, HBITMAP bitmap)
        : dc(::CreateCompatibleDC(compatibleWith)), selection(dc.get(), bitmap) {}
};

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void SetText(HWND window, const std::wstring& text) {
    if (!::SetWindowTextW(window, text.c_str())) ThrowLastError(L"SetWindowText");
}

void FillSystemColour(HDC dc, const RECT& rect, int systemColour) {
    ::FillRect(dc, &rect, ::GetSysColorBrush(systemColour));
}

// Relative luminance of a colour on the screen, from 0 (black) to 1 (white).
double Luminance(COLORREF colour) {
    auto linear = [](BYTE value) {
        const double share = value / 255.0;
        return share <= 0.04045 ? share / 12.92 : std::pow((share + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(GetRValue(colour)) + 0.7152 * linear(GetGValue(colour)) +
           0.0722 * linear(GetBValue(colour));
}

// The colour of a text on a background of a system colour: as designed,
// unless high contrast is on or the designed colour would hardly show on
// the user's scheme (black on black); then the system's text colour for
// that background.
COLORREF TextColour(design::Colour designed, int backSystemColour) {
    const COLORREF text = design::Resolve(designed);
    const double backLuminance = Luminance(::GetSysColor(backSystemColour));
    const double textLuminance = Luminance(text);
    const auto [darker, lighter] = std::minmax(backLuminance, textLuminance);
    constexpr double kLegibleContrast = 4.5;  // the usual minimum for body text
    if (!HighContrastOn() && (lighter + 0.05) / (darker + 0.05) >= kLegibleContrast) return text;
    return ::GetSysColor(backSystemColour == COLOR_BTNFACE ? COLOR_BTNTEXT : COLOR_WINDOWTEXT);
}

UniqueFont CreateFontOrThrow(const LOGFONTW& font) {
    UniqueFont created(::CreateFontIndirectW(&font));
    if (!created) ThrowLastError(L"CreateFontIndirect");
    return created;
}

UniqueFont CreateLabelFont(const design::LabelDesign& label, int dpi) {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(label.fontHundredthsOfPoint, dpi, 7200);
    font.lfWeight = label.fontWeight;
    font.lfCharSet = ANSI_CHARSET;
    lstrcpynW(font.lfFaceName, label.fontName, LF_FACESIZE);
    return CreateFontOrThrow(font);
}

// The system's dialog face at the controls' size for the DPI.
UniqueFont CreateControlFont(int dpi) {
    LOGFONTW font{};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfHeight = -::MulDiv(design::kControlFontPoints, dpi, 72);
    return CreateFontOrThrow(font);
}

void PlaceWindow(HWND window, const RECT& place) {
    ::SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

// One child window of the design, with the design it was made from.
struct Control {
    const design::ControlDesign& design;
    HWND hwnd = nullptr;
};

// A label painted on the window's surface. A screen reader finds its text
// in a child window at its place that paints nothing: owner-drawn, and
// transparent, so that it clips nothing of the window's own painting.
struct Label {
    const design::LabelDesign& design;
    UniqueFont font;
    std::wstring caption;
    HWND name = nullptr;

    explicit Label(const design::LabelDesign& d) : design(d), caption(d.storedCaption) {}

    void Create(HWND parent) {
        name = ::CreateWindowExW(WS_EX_TRANSPARENT, L"STATIC", caption.c_str(),
                                 WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX, 0, 0, 0, 0, parent, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
        if (!name) ThrowLastError(L"CreateWindowEx " + caption);
    }

    void SetCaption(const std::wstring& text) {
        caption = text;
        SetText(name, caption);
    }

    // The font and place for the DPI; the name window gets both too, for
    // tools that ask it where and how big the text is.
    void Layout(int dpi) {
        UniqueFont resized = CreateLabelFont(design, dpi);
        PlaceWindow(name, design.place.Pixels(dpi));
        ::SendMessageW(name, WM_SETFONT, reinterpret_cast<WPARAM>(resized.get()), FALSE);
        font = std::move(resized);
    }

    // Wraps at word boundaries inside the label and cuts off what does not
    // fit its height. Ampersands are shown as they are.
    void Paint(HDC dc, int dpi) const {
        Selection selected(dc, font.get());
        ::SetTextColor(dc, TextColour(design.foreColour, COLOR_WINDOW));
        ::SetBkMode(dc, TRANSPARENT);
        RECT place = design.place.Pixels(dpi);
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &place,
                    DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    }
};

// BCM_SETSHIELD (BCM_FIRST + 0x000C), which mingw-w64's headers give only
// where NTDDI_VERSION names Vista or later.
constexpr UINT kSetShield = 0x160C;

class FrmInstaller : public BaseWindow<FrmInstaller> {
public:
    // Creates the window and its controls as designed, still hidden.
    explicit FrmInstaller(std::wstring appName);

    void Form_Load();
    // Centres the window on the screen, shows it and focuses cmdInstall.
    void Show();
    // Puts the shield on cmdInstall: pressing it asks for administrator rights.
    void ShowShield() const { ::SendMessageW(cmdInstall_.hwnd, kSetShield, 0, TRUE); }
    // Runs the window's messages until the user has answered.
    WizardAnswer RunUntilAnswered();

private:
    friend class BaseWindow<FrmInstaller>;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnHandlerFailed() noexcept { answer_ = WizardAnswer::Closed; }

    void RegisterWindowClass(HINSTANCE instance);
    // Shows the default button's border on the button that Enter presses.
    void ShowDefaultButton() const;

    // The child windows in the order they are made, after the labels' names.
    std::array<Control*, 4> Controls() { return {&fraSettings_, &chkAutostart_, &cmdInstall_, &cmdCancel_}; }
    std::array<Label*, 2> Labels() { return {&lblTitle_, &lblInfo_}; }
    void CreateControl(Control& control);
    // Sizes the window and places and sizes everything in it from the
    // design for the DPI.
    void Layout(int dpi);
    // Moved to a monitor of another DPI: to the place Windows suggests, at
    // the new DPI.
    void OnDpiChanged(int dpi, const RECT& suggested);
    // Paints the surface elements bottom to top, off screen to avoid flicker.
    void Paint(HDC target) const;
    void OnPaint();
    // Gives the frame and the check box their designed colours.
    LRESULT OnCtlColor(UINT message, HDC dc, HWND control);
    void OnCommand(int id, int code);
    // Keeps the focus on the last focused control across deactivation.
    void OnActivate(WORD state, bool minimized);
    // The default button follows the focus as in a dialog box: a focused
    // push button is the default, otherwise cmdInstall.
    int DefaultButtonId() const;

    void cmdInstall_Click();
    void cmdCancel_Click();

    const std::wstring appName_;
    std::optional<WizardAnswer> answer_;
    Control cmdInstall_{design::cmdInstall};
    Control cmdCancel_{design::cmdCancel};
    Control chkAutostart_{design::chkAutostart};
    Control fraSettings_{design::fraSettings};
    Label lblTitle_{design::lblTitle};
    Label lblInfo_{design::lblInfo};
    UniqueBitmap imgSetup_;
    UniqueFont controlFont_;
    int dpi_ = 96;
    HWND lastFocus_ = nullptr;
};

FrmInstaller::FrmInstaller(std::wstring appName) : appName_(std::move(appName)) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterWindowClass(instance);
    imgSetup_.reset(::LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_SETUP)));
    if (!imgSetup_) ThrowLastError(L"LoadBitmap");

    RECT frame = design::kClientArea.Pixels();
    ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
    if (!CreateWindowOf(0, design::kStoredCaption, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        frame.right - frame.left, frame.bottom - frame.top, nullptr))
        ThrowLastError(L"CreateWindowEx");
    for (Label* label : Labels()) label->Create(hwnd());
    for (Control* control : Controls()) CreateControl(*control);
    Layout(WindowDpi(hwnd()));
    ::SendMessageW(chkAutostart_.hwnd, BM_SETCHECK, BST_CHECKED, 0);  // checked at every open
    lastFocus_ = cmdInstall_.hwnd;
}

void FrmInstaller::RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWizardClassName;
    // The program icon's two images. Shared icons: the system owns them.
    windowClass.hIcon = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 32, 32, LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 16, 16, LR_SHARED));
    Register(windowClass);
}

void FrmInstaller::CreateControl(Control& control) {
    control.hwnd = ::CreateWindowExW(control.design.exStyle, control.design.className, control.design.storedCaption,
                                     control.design.style, 0, 0, 0, 0, hwnd(),
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.design.id)),
                                     ::GetModuleHandleW(nullptr), nullptr);
    if (!control.hwnd) ThrowLastError(L"CreateWindowEx " + std::wstring(control.design.storedCaption));
}

void FrmInstaller::Layout(int dpi) {
    dpi_ = dpi;
    // The client area as designed, inside the frame Windows draws at this DPI.
    RECT window, client;
    ::GetWindowRect(hwnd(), &window);
    ::GetClientRect(hwnd(), &client);
    const RECT area = design::kClientArea.Pixels(dpi);
    ::SetWindowPos(hwnd(), nullptr, 0, 0, area.right + (window.right - window.left) - client.right,
                   area.bottom + (window.bottom - window.top) - client.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    UniqueFont font = CreateControlFont(dpi);
    for (const Control* control : Controls()) {
        PlaceWindow(control->hwnd, control->design.place.Pixels(dpi));
        ::SendMessageW(control->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    controlFont_ = std::move(font);  // the old one only now that no control uses it
    for (Label* label : Labels()) label->Layout(dpi);
    ::InvalidateRect(hwnd(), nullptr, FALSE);
}

void FrmInstaller::OnDpiChanged(int dpi, const RECT& suggested) {
    PlaceWindow(hwnd(), suggested);
    Layout(dpi);
}

void FrmInstaller::Form_Load() {
    const StringSource text = [](unsigned id) { return ResString(id); };
    SetText(hwnd(), InstallerCaption(appName_));
    lblTitle_.SetCaption(InstallerTitle(appName_, text));
    lblInfo_.SetCaption(InstallerInfo(appName_, text));
    for (const Control* control : Controls())
        SetText(control->hwnd, ResString(TagToStringId(control->design.tag)));
    ::InvalidateRect(hwnd(), nullptr, FALSE);
}

void FrmInstaller::Show() {
    RECT frame;
    ::GetWindowRect(hwnd(), &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(hwnd(), nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::ShowWindow(hwnd(), SW_SHOWNORMAL);
    ::SetFocus(lastFocus_);
    ::UpdateWindow(hwnd());
}

WizardAnswer FrmInstaller::RunUntilAnswered() {
    MSG msg;
    while (!answer_) {
        if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) {
            // Windows is shutting the program down: as a close by the system.
            answer_ = WizardAnswer::Closed;
            break;
        }
        if (hwnd() && ::IsDialogMessageW(hwnd(), &msg)) {
            // The message may have moved the focus (Tab, a click, an access key).
            if (hwnd()) ShowDefaultButton();
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    RethrowHandlerFailure();
    return *answer_;
}

LRESULT FrmInstaller::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_PRINTCLIENT:  // a copy of the window for another program
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:  // painting covers the whole client area
        return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return OnCtlColor(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM:  // the labels' names: the window paints the labels
        return TRUE;
    case WM_SYSCOLORCHANGE:  // the colours, or high contrast, changed
    case WM_SETTINGCHANGE:
        ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case DM_GETDEFID:  // asked by the dialog manager when Enter is pressed
        return MAKELRESULT(DefaultButtonId(), DC_HASDEFID);
    case WM_ACTIVATE:
        OnActivate(LOWORD(wParam), HIWORD(wParam) != 0);
        return 0;
    case WM_SETFOCUS:
        ::SetFocus(lastFocus_);
        return 0;
    case WM_DESTROY:  // closed by the system, unless Yes to the question came first
        if (!answer_) answer_ = WizardAnswer::Closed;
        return 0;
    default:
        return Default(message, wParam, lParam);
    }
}

void FrmInstaller::Paint(HDC target) const {
    RECT client;
    ::GetClientRect(hwnd(), &client);
    UniqueBitmap buffer(::CreateCompatibleBitmap(target, client.right, client.bottom));
    MemoryCanvas canvas(target, buffer.get());
    HDC dc = canvas.dc.get();

    FillSystemColour(dc, client, COLOR_WINDOW);
    {
        // Drawn for 96 dpi: smoothed to its place at any other.
        BITMAP picture{};
        ::GetObjectW(imgSetup_.get(), sizeof(picture), &picture);
        MemoryCanvas source(dc, imgSetup_.get());
        const RECT place = design::imgSetup.Pixels(dpi_);
        ::SetStretchBltMode(dc, HALFTONE);
        ::SetBrushOrgEx(dc, 0, 0, nullptr);
        ::StretchBlt(dc, place.left, place.top, place.right - place.left, place.bottom - place.top,
                     source.dc.get(), 0, 0, picture.bmWidth, picture.bmHeight, SRCCOPY);
    }
    lblInfo_.Paint(dc, dpi_);
    FillSystemColour(dc, design::shpButtons.Pixels(dpi_), design::shpButtonsSystemColour);
    lblTitle_.Paint(dc, dpi_);
    for (const auto* line : {&design::linSeperator[1], &design::linSeperator[0]})
        FillSystemColour(dc, line->Place().Pixels(dpi_), line->systemColour);

    ::BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
}

void FrmInstaller::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd(), &paint);
    Paint(dc);
    ::EndPaint(hwnd(), &paint);
}

LRESULT FrmInstaller::OnCtlColor(UINT message, HDC dc, HWND control) {
    for (const Control* c : Controls()) {
        if (c->hwnd != control) continue;
        ::SetTextColor(dc, TextColour(c->design.foreColour, c->design.backSystemColour));
        ::SetBkColor(dc, ::GetSysColor(c->design.backSystemColour));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(c->design.backSystemColour));
    }
    return Default(message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
}

void FrmInstaller::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    if (id == design::kInstallId) cmdInstall_Click();
    if (id == design::kCancelId) cmdCancel_Click();
}

void FrmInstaller::OnActivate(WORD state, bool minimized) {
    if (state == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus && ::IsChild(hwnd(), focus)) lastFocus_ = focus;
    } else if (!minimized) {
        ::SetFocus(lastFocus_);
    }
}

int FrmInstaller::DefaultButtonId() const {
    return ::GetFocus() == cmdCancel_.hwnd ? design::kCancelId : design::kInstallId;
}

void FrmInstaller::ShowDefaultButton() const {
    const int id = DefaultButtonId();
    for (const Control* button : {&cmdInstall_, &cmdCancel_}) {
        const LONG type = button->design.id == id ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        if ((::GetWindowLongW(button->hwnd, GWL_STYLE) & BS_TYPEMASK) != type)
            ::SendMessageW(button->hwnd, BM_SETSTYLE, type, TRUE);
    }
}

void FrmInstaller::cmdInstall_Click() {
    ::ShowWindow(hwnd(), SW_HIDE);
    // Grayed counts as checked: only a cleared box deselects autostart.
    const bool autostart = ::SendMessageW(chkAutostart_.hwnd, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
    answer_ = autostart ? WizardAnswer::InstallWithAutostart : WizardAnswer::InstallWithoutAutostart;
}

void FrmInstaller::cmdCancel_Click() {
    const std::wstring question = ResString(IDS_CANCEL_QUESTION);
    const std::wstring caption = WindowText(hwnd());
    if (::MessageBoxW(hwnd(), question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES) {
        answer_ = WizardAnswer::Cancelled;
        ::DestroyWindow(hwnd());
    }
}

}  // namespace

WizardAnswer RunInstallerWizard(const std::wstring& appName, bool shield) {
    // Only the version 6 buttons draw the shield, and the loader's manifest
    // keeps the classic ones: the wizard that shows it makes its controls
    // from the manifest that the loader carries for that.
    const ActivationScope controls(shield ? ManifestContext(::GetModuleHandleW(nullptr), IDR_COMMON_CONTROLS)
                                          : UniqueActivationContext());
    FrmInstaller form(appName);
    form.Form_Load();
    if (shield) form.ShowShield();
    form.Show();
    return form.RunUntilAnswered();
}

}  // namespace rvz
