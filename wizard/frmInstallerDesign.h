// The wizard window's design: each element's place in twips as designed
// (15 twips to the pixel at 96 dpi, 1440 to the inch at any DPI), its
// colours, fonts and the captions stored with it, which the load handler
// replaces.
#pragma once

#include <windows.h>

namespace rvz::design {

constexpr int kTwipsPerPixel = 15;

struct Rect {
    int left, top, width, height;  // twips

    // Rounded down as at 96 dpi, where every edge falls on a whole pixel.
    RECT Pixels(int dpi = 96) const {
        auto pixels = [dpi](int twips) { return twips * dpi / (kTwipsPerPixel * 96); };
        return {pixels(left), pixels(top), pixels(left + width), pixels(top + height)};
    }
};

// A colour as designs store them: a plain RGB value, or a system colour
// index with the top bit set, resolved when painting.
using Colour = DWORD;
constexpr Colour SystemColour(int index) { return 0x80000000u | static_cast<DWORD>(index); }
inline COLORREF Resolve(Colour colour) {
    return (colour & 0x80000000u) ? ::GetSysColor(static_cast<int>(colour & 0xFFu)) : colour;
}

constexpr Rect kClientArea{0, 0, 7455, 5400};
constexpr wchar_t kStoredCaption[] = L"Setup - Tarvik + App";

// Control ids: the dialog manager presses IDOK for Enter and IDCANCEL for Esc.
enum ControlId : int { kInstallId = IDOK, kCancelId = IDCANCEL, kSettingsId = 1001, kAutostartId = 1002 };

// The child windows, in the order they are created. That order is the
// Z-order, the order in which a screen reader reads them (the painted
// labels' names first, then the frame, the check box, Install, Cancel) and
// the Tab order: Install, Cancel, the check box. The frame, transparent,
// clips nothing of the check box inside it and never takes the focus.
struct ControlDesign {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
    int id;
    Rect place;  // in the window's client area
    const wchar_t* storedCaption;
    const wchar_t* tag;  // the caption's string id
    int backSystemColour;  // behind the control's text
    Colour foreColour;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
constexpr ControlDesign cmdInstall{L"BUTTON", kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 0,
                                   kInstallId, {4920, 4890, 1095, 375}, L"&Install >", L"110",
                                   COLOR_BTNFACE, SystemColour(COLOR_BTNTEXT)};
constexpr ControlDesign cmdCancel{L"BUTTON", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0,
                                  kCancelId, {6180, 4890, 1095, 375}, L"Cancel", L"101",
                                  COLOR_BTNFACE, SystemColour(COLOR_BTNTEXT)};
// Designed at (240, 360) inside the frame at (2640, 3600).
constexpr ControlDesign chkAutostart{L"BUTTON", kChild | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, 0,
                                     kAutostartId, {2640 + 240, 3600 + 360, 3255, 255},
                                     L"(Autostart)", L"411", COLOR_WINDOW, RGB(0, 0, 0)};
// A group box paints only its frame and caption; transparent, it is not
// clipped out of the window's own painting, which fills its inside.
constexpr ControlDesign fraSettings{L"BUTTON", kChild | BS_GROUPBOX, WS_EX_TRANSPARENT, kSettingsId,
                                    {2640, 3600, 4455, 855}, L"Settings", L"410", COLOR_WINDOW,
                                    SystemColour(COLOR_BTNTEXT)};

// The controls' font: the system's dialog face at 8 points.
constexpr int kControlFontPoints = 8;

// The elements painted on the window's surface.
struct LabelDesign {
    Rect place;
    const wchar_t* storedCaption;
    const wchar_t* fontName;
    int fontHundredthsOfPoint;
    int fontWeight;
    Colour foreColour;
};

constexpr LabelDesign lblTitle{{2640, 240, 4455, 615}, L"(Title)", L"MS Sans Serif", 1200, FW_BOLD,
                               SystemColour(COLOR_BTNTEXT)};
constexpr LabelDesign lblInfo{{2640, 1080, 4455, 2295}, L"(Info)", L"MS Sans Serif", 975, FW_NORMAL,
                              RGB(0, 0, 0)};

constexpr Rect imgSetup{0, 0, 2460, 4710};
// The filled strip behind the buttons; it reaches past the client area.
constexpr Rect shpButtons{0, 4680, 7575, 735};
constexpr int shpButtonsSystemColour = COLOR_BTNFACE;

// Two horizontal one-pixel lines from x 0 to 7680 along the strip's top
// edge: an etched separator.
struct LineDesign {
    int y;
    int systemColour;

    Rect Place() const { return {0, y, 7680 + kTwipsPerPixel, kTwipsPerPixel}; }
};
constexpr LineDesign linSeperator[] = {{4680, COLOR_BTNSHADOW}, {4695, COLOR_WINDOW}};

}  // namespace rvz::design
