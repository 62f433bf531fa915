// The wizard's texts as its load handler puts them together, apart from the
// window so that they can be checked on any platform.
#pragma once

#include <functional>
#include <string>

namespace rvz {

// Looks up a localized text by its string id (ResString in the loader).
using StringSource = std::function<std::wstring(unsigned id)>;

// "Setup - Tarvik + " and the add-on's name, also when that is empty.
std::wstring InstallerCaption(const std::wstring& appName);

// "Tarvik + ", the add-on's name, one blank and text 400.
std::wstring InstallerTitle(const std::wstring& appName, const StringSource& text);

// Texts 401 to 404, fetched in that order, as three paragraphs with the
// add-on's name between 403 and 404 (which carry their own blanks).
std::wstring InstallerInfo(const std::wstring& appName, const StringSource& text);

// The string id that a control's Tag holds as decimal digits. Throws
// std::invalid_argument for anything else and std::out_of_range beyond
// the 32-bit range.
unsigned TagToStringId(const std::wstring& tag);

}  // namespace rvz
