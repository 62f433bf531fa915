// What both windows need to know about the user's display: its DPI and
// whether high contrast is on. Functions that only newer Windows has are
// looked up at run time, so that the programs still start on older ones.
#pragma once

#include <windows.h>

namespace rvz {

// Declares the process aware of each monitor's DPI (per-monitor version 2
// where Windows has it, else system DPI aware), so that Windows neither
// stretches the windows nor enlarges their fonts behind their back. The
// manifest stays as it is: this is done at run time, before the first window.
void DeclareDpiAwareness();

// The DPI the window is shown at: GetDpiForWindow where Windows has it,
// else the screen's.
int WindowDpi(HWND window);

// The screen's DPI, which the system's fonts and metrics are made for.
int SystemDpi();

// Whether the user has switched high contrast on: then every text and
// background takes the system's colours.
bool HighContrastOn();

}  // namespace rvz
