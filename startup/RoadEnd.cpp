#include "RoadEnd.h"

#include "Strings.h"
#include "WinError.h"
#include "resource.h"

#include <utility>

namespace rvz {

UserError::UserError(ExitCode code, std::wstring message)
    : std::runtime_error(ToUtf8(message)), code_(code), message_(std::move(message)) {}

std::wstring ErrorText(const std::exception& error) {
    if (const auto* user = dynamic_cast<const UserError*>(&error)) return user->message();
    return FromUtf8(error.what());
}

RoadEnd UnexpectedEnd(const std::exception& error) {
    const auto* user = dynamic_cast<const UserError*>(&error);
    return RoadEnd(user ? user->code() : kExitUnexpectedError, ErrorText(error));
}

void Tell(const std::wstring& message, UINT icon, RunLog& log) {
    log.Write(L"Message: " + message);
    const std::wstring shown =
        log.Path().empty() ? message : message + L"\r\n\r\n" + ResString(IDS_SEE_LOG) + L" " + log.Path();
    ::MessageBoxW(nullptr, shown.c_str(), kApplicationTitle, MB_OK | icon);
}

ExitCode EndRoad(const RoadEnd& end, RunLog& log) {
    if (!end.message.empty()) Tell(end.message, end.icon, log);
    log.Write(L"Outcome: exit code " + std::to_wstring(end.code));
    return end.code;
}

}  // namespace rvz
