#include "InstallerTexts.h"

#include "AsciiText.h"
#include "resource.h"

#include <limits>
#include <stdexcept>

namespace rvz {

std::wstring InstallerCaption(const std::wstring& appName) { return L"Setup - Tarvik + " + appName; }

std::wstring InstallerTitle(const std::wstring& appName, const StringSource& text) {
    return L"Tarvik + " + appName + L" " + text(IDS_WIZARD_TITLE);
}

std::wstring InstallerInfo(const std::wstring& appName, const StringSource& text) {
    // Separate statements: the order of the look-ups is part of the contract.
    const std::wstring welcome = text(IDS_WELCOME);
    const std::wstring downloadFirst = text(IDS_DOWNLOAD_FIRST);
    const std::wstring afterwards = text(IDS_AFTERWARDS);
    const std::wstring willCommence = text(IDS_WILL_COMMENCE);
    return welcome + L"\r\n\r\n" + downloadFirst + L"\r\n" + afterwards + appName + willCommence;
}

unsigned TagToStringId(const std::wstring& tag) {
    if (tag.empty()) throw std::invalid_argument("empty Tag");
    if (!IsDecimal(tag)) throw std::invalid_argument("Tag is not a decimal number");
    const std::optional<std::uint64_t> value = ParseDecimal(tag, std::numeric_limits<int>::max());
    if (!value) throw std::out_of_range("Tag is beyond the 32-bit range");
    return static_cast<unsigned>(*value);
}

}  // namespace rvz
