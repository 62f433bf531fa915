// The setup wizard window.
#pragma once

#include <windows.h>

namespace rvz {

// Creates the wizard, sets its texts and shows it centred, without owner.
// Throws when it cannot be created; the program then ends.
void ShowInstallerWindow();

// Gives the wizard the keyboard navigation of a queued message (Tab, Enter,
// Esc, access keys). True when the message was handled.
bool InstallerPreTranslateMessage(MSG& msg);

}  // namespace rvz
