#include "Texts.h"

namespace rvdl {

namespace {

// In TextId order; the language files use the same keys.
constexpr TextEntry kEntries[] = {
    {L"Title", L"Download"},
    {L"Heading", L"Downloading {file}"},
    {L"Source", L"from {host}"},
    {L"Connecting", L"Connecting to {host}\u2026"},
    {L"Resuming", L"The connection was lost. Resuming ({attempt} of {attempts})\u2026"},
    {L"Busy", L"The server is busy. Trying again in {seconds} s ({attempt} of {attempts})\u2026"},
    {L"AmountOfTotal", L"{done} of {total}"},
    {L"AmountOnly", L"{done} downloaded"},
    {L"SpeedAndTimeLeft", L"{speed} \u2013 {time} left"},
    {L"Speed", L"{size}/s"},
    {L"Bytes", L"bytes"},
    {L"Kilobytes", L"KB"},
    {L"Megabytes", L"MB"},
    {L"Gigabytes", L"GB"},
    {L"DecimalSeparator", L"."},
    {L"Seconds", L"{s} s"},
    {L"MinutesSeconds", L"{m} min {s} s"},
    {L"Minutes", L"{m} min"},
    {L"HoursMinutes", L"{h} h {m} min"},
    {L"FailedHeading", L"The download of {file} failed"},
    {L"ErrorStatus", L"The server answered with an error: {status}."},
    {L"ErrorNotFound", L"The file was not found on the server ({status})."},
    {L"ErrorCannotConnect",
     L"The server at {host} cannot be reached. Check your Internet connection and try again."},
    {L"ErrorRefused",
     L"The server at {host} refused the connection; it is not accepting connections now. Try "
     L"again later."},
    {L"ErrorHostNotFound",
     L"The server {host} cannot be found. Check your Internet connection and try again."},
    {L"ErrorConnectionLost", L"The connection to {host} was lost."},
    {L"ErrorIncomplete", L"The connection to {host} was lost after {done} of {total}."},
    {L"ErrorTimeout", L"The server at {host} has sent no data for {seconds} seconds."},
    {L"ErrorSecure", L"A secure connection to {host} could not be established."},
    {L"ErrorHandshake",
     L"The server at {host} and Windows could not agree on a secure connection: they have no "
     L"version of the TLS encryption protocol in common."},
    {L"ErrorHandshakeWindows7",
     L"The server at {host} and Windows could not agree on a secure connection: the server needs "
     L"TLS 1.2 or later, which Windows 7 leaves off. Switch on \"Use TLS 1.2\" in Internet "
     L"Options on the Advanced tab, or install Internet Explorer 11 from Windows Update, which "
     L"switches it on; then try again."},
    {L"ErrorHandshakeVista",
     L"The server at {host} and Windows could not agree on a secure connection: the server needs "
     L"TLS 1.2 or later, which Windows Vista lacks. Install the update that brings TLS 1.2 to "
     L"Windows Server 2008 and Vista (KB4019276) from Windows Update, then try again."},
    {L"ErrorAddress", L"The download address is not valid: {url}"},
    {L"ErrorWrite", L"The file could not be saved: {error}"},
    {L"ErrorDiskFull", L"There is not enough free space on {drive} ({free} free)."},
    {L"ErrorDiskFullOfSize",
     L"There is not enough free space on {drive}: the file needs {total}, and {free} are free."},
    {L"ErrorDowngrade",
     L"The server redirected the download from https to insecure http; for your safety it was "
     L"not followed: {url}"},
    {L"ErrorRedirects",
     L"The download was stopped after {count} redirects without the file (last to {url})."},
    {L"ErrorEncoding",
     L"The server sent the file encoded as {encoding}, which cannot be saved as the file."},
    {L"ErrorWrongPart",
     L"The server sent a part of the file that was not asked for, after {amount}."},
    {L"ErrorProxyCredentials",
     L"The proxy server asked for a user name and password; none was given."},
    {L"ErrorServerCredentials",
     L"The server at {host} asked for a user name and password; none was given."},
    {L"ErrorOther", L"The download stopped because of an error: {error}"},
    {L"Retry", L"&Retry"},
    {L"Cancel", L"Cancel"},
    {L"CredentialsProxy", L"The proxy server asks for a user name and password."},
    {L"CredentialsServer", L"The server at {host} asks for a user name and password."},
    {L"UserName", L"&User name:"},
    {L"Password", L"&Password:"},
    {L"Ok", L"OK"},
    {L"Status400", L"Bad Request"},
    {L"Status401", L"Unauthorized"},
    {L"Status403", L"Forbidden"},
    {L"Status404", L"Not Found"},
    {L"Status407", L"Proxy Authentication Required"},
    {L"Status408", L"Request Timeout"},
    {L"Status410", L"Gone"},
    {L"Status429", L"Too Many Requests"},
    {L"Status500", L"Internal Server Error"},
    {L"Status502", L"Bad Gateway"},
    {L"Status503", L"Service Unavailable"},
    {L"Status504", L"Gateway Timeout"},
};
static_assert(sizeof(kEntries) / sizeof(kEntries[0]) == kTextCount, "one entry per TextId");

}  // namespace

const TextEntry& TextInfo(TextId id) { return kEntries[static_cast<size_t>(id)]; }

std::wstring Substitute(std::wstring_view pattern, Substitutions values) {
    std::wstring result;
    result.reserve(pattern.size());
    size_t pos = 0;
    while (pos < pattern.size()) {
        const size_t open = pattern.find(L'{', pos);
        const size_t close = open == std::wstring_view::npos ? open : pattern.find(L'}', open);
        if (close == std::wstring_view::npos) break;
        const std::wstring_view name = pattern.substr(open + 1, close - open - 1);
        result.append(pattern.substr(pos, open - pos));
        const auto* match = values.begin();
        while (match != values.end() && match->first != name) ++match;
        if (match != values.end()) {
            result.append(match->second);
            pos = close + 1;
        } else {
            // Not a placeholder of ours: keep the brace and look on after it.
            result.push_back(L'{');
            pos = open + 1;
        }
    }
    result.append(pattern.substr(pos));
    return result;
}

Texts::Texts() {
    for (size_t i = 0; i < kTextCount; ++i) texts_[i] = kEntries[i].english;
}

Texts Texts::Load(const Lookup& lookup) {
    Texts texts;
    for (size_t i = 0; i < kTextCount; ++i) {
        std::optional<std::wstring> value = lookup(kEntries[i].key);
        if (value && !value->empty()) texts.texts_[i] = std::move(*value);
    }
    return texts;
}

}  // namespace rvdl
