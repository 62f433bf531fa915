#include "CommandLines.h"

namespace rvz {

std::wstring ProductCommandLine(const std::wstring& position, const std::wstring& command,
                                bool positionIsExistingFile) {
    const bool needsQuotes = positionIsExistingFile && position.find(L' ') != std::wstring::npos &&
                             position.front() != L'"';
    return (needsQuotes ? L"\"" + position + L"\"" : position) + L" " + command;
}

std::wstring SetupCommandLine(const std::wstring& setupPath, bool autostart) {
    return L"\"" + setupPath + L"\" /silent /norestart /mergetasks=" +
           (autostart ? L"autostart" : L"!autostart");
}

}  // namespace rvz
