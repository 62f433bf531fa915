#include "CommandLines.h"

#include "AsciiText.h"

namespace rvz {

namespace {

// Whether ".exe", in any case, stands at the position.
bool IsExeAt(const std::wstring& text, size_t at) {
    return EqualsAsciiNoCase(std::wstring_view(text).substr(at, 4), L".exe");
}

}  // namespace

ProductStart ProductStartFor(const std::wstring& position, const std::wstring& command,
                             const std::function<bool(const std::wstring&)>& fileExists) {
    if (!position.empty() && position.front() == L'"') {
        const size_t close = position.find(L'"', 1);
        if (close == std::wstring::npos) return {};  // an open quote names nothing for sure
        const std::wstring program = position.substr(1, close - 1);
        if (!fileExists(program)) return {};
        return {program, ProductCommandLine(position, command)};
    }
    if (fileExists(position)) return {position, ProductCommandLine(position, command)};

    // A setup may have written the program with arguments of its own.
    for (size_t end = 4; end < position.size(); ++end) {
        if (position[end] != L' ' || !IsExeAt(position, end - 4)) continue;
        const std::wstring program = position.substr(0, end);
        if (fileExists(program))
            return {program, ProductCommandLine(program, position.substr(end + 1) + L" " + command)};
    }
    return {};
}

std::wstring ProductCommandLine(const std::wstring& position, const std::wstring& command) {
    const bool needsQuotes = position.find(L' ') != std::wstring::npos && position.front() != L'"';
    return (needsQuotes ? L"\"" + position + L"\"" : position) + L" " + command;
}

std::wstring SetupCommandLine(const std::wstring& setupPath, bool autostart) {
    return L"\"" + setupPath + L"\" /silent /norestart /mergetasks=" +
           (autostart ? L"autostart" : L"!autostart");
}

}  // namespace rvz
