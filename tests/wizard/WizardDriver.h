// Drives the real loader's wizard from outside, as a user would: the loader
// runs from a folder of its own with the stand-in download library and no
// install record, and the test reads and presses its windows.
#pragma once

#include "ExitCodes.h"
#include "LoaderRun.h"
#include "WinTestSupport.h"
#include "frmInstallerDesign.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rvztest {

// The wizard's controls, as GetDlgItem finds them.
using rvz::design::kAutostartId;
using rvz::design::kCancelId;
using rvz::design::kInstallId;
using rvz::design::kSettingsId;

// Pixels of a rectangle as 0x00RRGGBB values, row by row from the top.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> values;

    uint32_t at(int x, int y) const { return values[static_cast<size_t>(y * width + x)]; }
    bool operator==(const Pixels& other) const {
        return width == other.width && height == other.height && values == other.values;
    }
    // How many pixels differ from other's; all of them when the sizes differ.
    size_t Differences(const Pixels& other) const;
    // Whether every pixel has this colour.
    bool AllOf(COLORREF colour) const;
    // How many pixels have this colour.
    size_t Count(COLORREF colour) const;
};

// What the screen shows in a rectangle of a window's client area.
Pixels CaptureClient(HWND window, const RECT& rect);

// A text drawn as the wizard's labels draw theirs: in a box of the given
// size on COLOR_WINDOW, wrapped at words and cut off at the bottom.
Pixels RenderLabel(const std::wstring& text, const wchar_t* face, int height, int weight, COLORREF colour,
                   int width, int boxHeight);

// The wizard's picture as the loader at the path carries it.
Pixels LoadPicture(const std::wstring& loaderPath);

// Expects the two labels on the screen to show these texts exactly as the
// design draws them (font, place, wrapping, cut-off), the information in
// the given colour. Waits for the screen first: Wine copies what a window
// paints to the display a little later.
void ExpectLabels(HWND wizard, const std::wstring& title, const std::wstring& info,
                  COLORREF infoColour = RGB(0, 0, 0));

// Every text the wizard shows, in one language.
struct WizardTexts {
    std::wstring caption, settings, autostart, install, cancel, title, info;
};
class WizardRun;
// Expects the window, its controls and its labels to show these texts.
void ExpectTexts(const WizardRun& run, const WizardTexts& texts);

// A child window's rectangle in its parent's client coordinates.
RECT ClientRectOf(HWND child);

// The window with the keyboard focus in the thread that owns the window.
HWND FocusOf(HWND window);

// Posts a key press (down and up) to the window with the focus, as the
// keyboard would, so that it runs through the loader's message loop.
void PressKey(HWND wizard, UINT virtualKey);
// Posts Alt and a letter (an access key) to the window with the focus.
void PressAltKey(HWND wizard, wchar_t letter);

class WizardRun {
public:
    // Starts the test loader with the given add-on name and waits for its
    // wizard. The user interface language is the test program's own.
    explicit WizardRun(const std::wstring& appName);

    HWND wizard() const { return wizard_; }
    HWND control(int id) const { return ::GetDlgItem(wizard_, id); }
    const Process& process() const { return run_.process(); }
    std::wstring loaderPath() const { return run_.loaderPath(); }

    // The cancel question (or any second window of the loader) once shown.
    HWND WaitForMessageBox() const;
    // Waits for the end of the loader; its whole exit code, or STILL_ACTIVE.
    DWORD WaitForExit() const;

private:
    ScopedInstallRecord record_;
    LoaderRun run_;
    HWND wizard_ = nullptr;
};

}  // namespace rvztest
