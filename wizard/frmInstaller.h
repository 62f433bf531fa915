// The setup wizard window: shows the product and the add-on, asks, and
// returns the user's answer. It runs no install step itself.
#pragma once

#include <string>

namespace rvz {

// The wizard window's class, by which another loader finds it.
constexpr wchar_t kWizardClassName[] = L"RAVoduzaInstaller";

enum class WizardAnswer {
    InstallWithAutostart,     // Install, the box checked (or grayed)
    InstallWithoutAutostart,  // Install, the box cleared
    Cancelled,                // Cancel, then Yes to the question
    Closed,                   // closed by the system, without a question
};

inline bool IsInstall(WizardAnswer answer) {
    return answer == WizardAnswer::InstallWithAutostart ||
           answer == WizardAnswer::InstallWithoutAutostart;
}

// Creates the wizard for the add-on's name, shows it centred without owner,
// and runs its message loop until the user has answered. With `shield`,
// Install carries the shield that says it asks for administrator rights. It lays out for the
// window's DPI; the process declares its DPI awareness before (the road does). Install hides the
// window before this returns. Throws when the window cannot be made, or what
// one of its message handlers threw.
WizardAnswer RunInstallerWizard(const std::wstring& appName, bool shield = false);

}  // namespace rvz
