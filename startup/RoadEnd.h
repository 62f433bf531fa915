// How a road of the loader ends: its exit code and what the user is told,
// shown and logged in one place.
#pragma once

#include "ExitCodes.h"
#include "RunLog.h"

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace rvz {

// The title of the loader's message boxes.
constexpr wchar_t kApplicationTitle[] = L"Tarvik Loader";

// The end of a road: the exit code and, when the user is told, the message
// (in the user's language) and the icon of its box.
struct RoadEnd {
    // An end that shows nothing.
    explicit RoadEnd(ExitCode exitCode) : code(exitCode) {}
    RoadEnd(ExitCode exitCode, std::wstring shown, UINT boxIcon = MB_ICONERROR)
        : code(exitCode), message(std::move(shown)), icon(boxIcon) {}

    ExitCode code;
    std::wstring message;  // empty: nothing is shown
    UINT icon = MB_ICONERROR;
};

// An error whose text is for the user as it stands, in the user's language,
// and the exit code it ends the road with.
class UserError : public std::runtime_error {
public:
    UserError(ExitCode code, std::wstring message);
    ExitCode code() const noexcept { return code_; }
    const std::wstring& message() const noexcept { return message_; }

private:
    ExitCode code_;
    std::wstring message_;
};

// The error's text for the user or the log: a UserError's message, any
// other error's description.
std::wstring ErrorText(const std::exception& error);

// The end for an error that no step handled: a UserError's own, any other
// shown with its description and kExitUnexpectedError.
RoadEnd UnexpectedEnd(const std::exception& error);

// Shows the message in a box titled "Tarvik Loader" with the icon; with a
// log, the text ends with a line naming the log, which notes the message.
void Tell(const std::wstring& message, UINT icon, RunLog& log);

// Shows the end's message, if it has one, in a box titled "Tarvik Loader".
// With a log, the box's text ends with a line naming the log, and the log
// notes the message and the outcome. Returns the exit code.
ExitCode EndRoad(const RoadEnd& end, RunLog& log);

}  // namespace rvz
