#include "TransferRules.h"

#include "AsciiText.h"
#include "Progress.h"

#include <algorithm>
#include <cwctype>

namespace rvdl {

namespace {

// WinINet's error numbers, fixed by its public header; written out here so
// that the decisions compile and are tested without Windows.
enum WinInetError : uint32_t {
    kTimeout = 12002,
    kInvalidUrl = 12005,
    kUnrecognizedScheme = 12006,
    kNameNotResolved = 12007,
    kOperationCancelled = 12017,
    kIncorrectHandleState = 12019,
    kCannotConnect = 12029,
    kConnectionAborted = 12030,
    kConnectionReset = 12031,
    kSecCertDateInvalid = 12037,
    kSecCertCnInvalid = 12038,
    kInvalidCa = 12045,
    kSecCertErrors = 12055,
    kSecCertRevocationFailed = 12057,
    kInsecureFallbackRequired = 12059,
    kInvalidServerResponse = 12152,
    kHttpInvalidHeader = 12153,
    kSecurityChannelError = 12157,
    kSecInvalidCert = 12169,
    kSecCertRevoked = 12170,
};

using rvz::EqualsAsciiNoCase;
using rvz::StartsWithAsciiNoCase;

// The largest number of nineteen digits: far beyond any file, and sums of
// two such numbers still fit in 64 bits.
constexpr uint64_t kLargestNumber = 9'999'999'999'999'999'999u;

std::optional<uint64_t> Number(std::wstring_view digits) {
    return rvz::ParseDecimal(digits, kLargestNumber);
}

std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && std::iswspace(text.front())) text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back())) text.remove_suffix(1);
    return text;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// The words of a date: the runs between blanks, commas and dashes. Six at
// most; a seventh makes it no date.
struct DateWords {
    std::wstring_view words[7];
    size_t count = 0;
};

DateWords SplitDate(std::wstring_view text) {
    DateWords result;
    size_t start = 0;
    for (size_t i = 0; i <= text.size() && result.count < 7; ++i) {
        const bool separator = i == text.size() || text[i] == L' ' || text[i] == L',' ||
                               text[i] == L'-' || text[i] == L'\t';
        if (!separator) continue;
        if (i > start) result.words[result.count++] = text.substr(start, i - start);
        start = i + 1;
    }
    return result;
}

std::optional<unsigned> MonthNumber(std::wstring_view word) {
    constexpr std::wstring_view kMonths = L"JanFebMarAprMayJunJulAugSepOctNovDec";
    const size_t at = word.size() == 3 ? kMonths.find(word) : std::wstring_view::npos;
    if (at == std::wstring_view::npos || at % 3) return std::nullopt;
    return static_cast<unsigned>(at / 3 + 1);
}

// "08:49:37" as seconds of the day.
std::optional<int64_t> TimeOfDay(std::wstring_view word) {
    if (word.size() != 8 || word[2] != L':' || word[5] != L':') return std::nullopt;
    const auto hours = Number(word.substr(0, 2)), minutes = Number(word.substr(3, 2)),
               seconds = Number(word.substr(6, 2));
    if (!hours || !minutes || !seconds || *hours > 23 || *minutes > 59 || *seconds > 60)
        return std::nullopt;
    return static_cast<int64_t>(*hours * 3600 + *minutes * 60 + *seconds);
}

}  // namespace

Failure ClassifyNetworkError(uint32_t code) {
    switch (code) {
        case kTimeout: return Failure::Timeout;
        case kInvalidUrl:
        case kUnrecognizedScheme: return Failure::Address;
        case kNameNotResolved: return Failure::HostNotFound;
        case kCannotConnect: return Failure::CannotConnect;
        case kOperationCancelled:
        case kIncorrectHandleState:
        case kConnectionAborted:
        case kConnectionReset:
        case kInvalidServerResponse:
        case kHttpInvalidHeader: return Failure::ConnectionLost;
        case kSecCertDateInvalid:
        case kSecCertCnInvalid:
        case kInvalidCa:
        case kSecCertErrors:
        case kSecCertRevocationFailed:
        case kSecInvalidCert:
        case kSecCertRevoked: return Failure::Secure;
        // Schannel found no protocol or cipher both sides accept (or the
        // server broke the handshake off); newer WinINet says it would take
        // a fallback to a protocol it no longer offers. Certificates are
        // judged only after the handshake, under their own codes above.
        case kSecurityChannelError:
        case kInsecureFallbackRequired: return Failure::Handshake;
        default: return Failure::Other;
    }
}

OldWindows OldWindowsFor(uint32_t major, uint32_t minor) {
    if (major != 6) return OldWindows::None;
    if (minor == 0) return OldWindows::Vista;
    return minor == 1 ? OldWindows::Windows7 : OldWindows::None;
}

std::optional<ContentRange> ParseContentRange(std::wstring_view header) {
    header = Trim(header);
    constexpr std::wstring_view kUnit = L"bytes ";
    if (header.substr(0, kUnit.size()) != kUnit) return std::nullopt;
    header.remove_prefix(kUnit.size());
    const size_t dash = header.find(L'-');
    const size_t slash = header.find(L'/');
    if (dash == std::wstring_view::npos || slash == std::wstring_view::npos || slash < dash)
        return std::nullopt;
    const std::wstring_view first = header.substr(0, dash);
    const std::wstring_view last = header.substr(dash + 1, slash - dash - 1);
    const std::wstring_view total = header.substr(slash + 1);
    const std::optional<uint64_t> firstNumber = Number(first), lastNumber = Number(last);
    if (!firstNumber || !lastNumber) return std::nullopt;
    ContentRange range;
    range.first = *firstNumber;
    range.last = *lastNumber;
    if (range.last < range.first) return std::nullopt;
    if (total != L"*") {
        const std::optional<uint64_t> totalNumber = Number(total);
        if (!totalNumber || *totalNumber <= range.last) return std::nullopt;
        range.total = *totalNumber;
    }
    return range;
}

std::optional<uint64_t> ParseLength(std::wstring_view text) {
    return Number(Trim(text));
}

RedirectVerdict JudgeRedirect(std::wstring_view from, std::wstring_view to, int redirectsDone) {
    const bool toSecure = StartsWithAsciiNoCase(to, L"https://");
    if (!toSecure && !StartsWithAsciiNoCase(to, L"http://")) return RedirectVerdict::NotHttp;
    if (StartsWithAsciiNoCase(from, L"https://") && !toSecure) return RedirectVerdict::Downgrade;
    if (redirectsDone >= kMaxRedirects) return RedirectVerdict::TooMany;
    return RedirectVerdict::Follow;
}

std::optional<int64_t> ParseHttpDate(std::wstring_view text) {
    const DateWords split = SplitDate(text);
    const std::wstring_view* words = split.words;
    // "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", or
    // "Sun Nov  6 08:49:37 1994" (C's asctime).
    std::wstring_view day, month, year, time;
    if (split.count == 6 && words[5] == L"GMT") {
        day = words[1], month = words[2], year = words[3], time = words[4];
    } else if (split.count == 5) {
        month = words[1], day = words[2], time = words[3], year = words[4];
    } else {
        return std::nullopt;
    }
    const std::optional<unsigned> monthNumber = MonthNumber(month);
    const std::optional<int64_t> seconds = TimeOfDay(time);
    const std::optional<uint64_t> dayOfMonth = Number(day), yearWritten = Number(year);
    if (!monthNumber || !seconds || !dayOfMonth || day.size() > 2 || !yearWritten ||
        (year.size() != 4 && year.size() != 2))
        return std::nullopt;
    const unsigned dayNumber = static_cast<unsigned>(*dayOfMonth);
    int64_t yearNumber = static_cast<int64_t>(*yearWritten);
    // Two-digit years of the old form: 70 to 99 are the 1900s.
    if (year.size() == 2) yearNumber += yearNumber < 70 ? 2000 : 1900;
    if (dayNumber < 1 || dayNumber > 31) return std::nullopt;
    return DaysFromCivil(yearNumber, *monthNumber, dayNumber) * 86400 + *seconds;
}

std::optional<uint64_t> ParseRetryAfter(std::wstring_view value, int64_t now) {
    if (const std::optional<uint64_t> seconds = ParseLength(value)) return seconds;
    const std::optional<int64_t> date = ParseHttpDate(value);
    if (!date) return std::nullopt;
    return *date > now ? static_cast<uint64_t>(*date - now) : 0;
}

uint64_t BusyWaitMs(uint64_t askedSeconds, double random) {
    constexpr uint64_t kCapMs = uint64_t{kMaxBusyWaitSeconds} * 1000;
    const uint64_t asked = std::min<uint64_t>(askedSeconds, kMaxBusyWaitSeconds) * 1000;
    const uint64_t spread = std::max<uint64_t>(1000, asked / 4);
    // Never before the time asked for; at the cap, the spread lies below it.
    const uint64_t earliest = asked < kCapMs ? asked : kCapMs - spread;
    const uint64_t latest = std::min(kCapMs, earliest + spread);
    random = std::clamp(random, 0.0, 1.0);
    return earliest + static_cast<uint64_t>(random * static_cast<double>(latest - earliest));
}

EncodingVerdict JudgeEncoding(std::wstring_view contentEncoding, bool decoding) {
    contentEncoding = Trim(contentEncoding);
    const auto is = [&](std::wstring_view name) { return EqualsAsciiNoCase(contentEncoding, name); };
    if (contentEncoding.empty() || is(L"identity")) return EncodingVerdict::Plain;
    // WinINet decodes these two only (Wine not even x-gzip).
    if (decoding && (is(L"gzip") || is(L"deflate"))) return EncodingVerdict::Decoded;
    return EncodingVerdict::Refuse;
}

bool IsLoopbackHost(std::wstring_view host) {
    // The host as HostOfUrl gives it: a port may follow.
    if (!host.empty() && host.front() == L'[') return StartsWithAsciiNoCase(host, L"[::1]");
    host = host.substr(0, host.find(L':'));
    return StartsWithAsciiNoCase(host, L"127.") || EqualsAsciiNoCase(host, L"localhost");
}

std::wstring RangeHeader(uint64_t offset) {
    if (offset == 0) return {};
    return L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
}

ResponseVerdict JudgeResponse(uint64_t offset, int status, std::optional<uint64_t> contentLength,
                              std::optional<ContentRange> range) {
    ResponseVerdict verdict;
    if (status < 200 || status > 299) {
        verdict.failure = Failure::Status;
        return verdict;
    }
    if (status == 206) {
        // Only a part that starts where we asked continues the file; it may
        // also be the whole file from byte 0 when we asked for no range.
        if (!range || range->first != offset) {
            verdict.failure = Failure::WrongPart;
            return verdict;
        }
        verdict.start = BodyStart::Append;
        verdict.total = range->total;
        if (!verdict.total && contentLength) verdict.total = offset + *contentLength;
        return verdict;
    }
    verdict.start = offset == 0 ? BodyStart::Append : BodyStart::FromZero;
    verdict.total = contentLength;
    return verdict;
}

uint32_t NextReadSize(uint32_t asked, uint32_t got, uint64_t tookMs, uint32_t maximum) {
    if (got == 0 || got < asked || tookMs >= kQuickReadMs) return 0;
    return got >= maximum / 2 ? maximum : got * 2;
}

std::wstring HostOfUrl(std::wstring_view url) {
    const size_t scheme = url.find(L"://");
    std::wstring_view rest = scheme == std::wstring_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of(L"/?#"));
    const size_t at = rest.rfind(L'@');
    if (at != std::wstring_view::npos) rest.remove_prefix(at + 1);
    return std::wstring(rest);
}

namespace {

// The language's words for the server's phrase of a common status, or the
// phrase as sent. A server that sent none (HTTP/2 has none) gets the number alone.
std::wstring StatusPhrase(const Texts& texts, int status, const std::wstring& serverPhrase) {
    if (serverPhrase.empty()) return serverPhrase;
    constexpr std::pair<int, TextId> kPhrases[] = {
        {400, TextId::Status400}, {401, TextId::Status401}, {403, TextId::Status403},
        {404, TextId::Status404}, {407, TextId::Status407}, {408, TextId::Status408},
        {410, TextId::Status410}, {429, TextId::Status429}, {500, TextId::Status500},
        {502, TextId::Status502}, {503, TextId::Status503}, {504, TextId::Status504},
    };
    for (const auto& [code, id] : kPhrases)
        if (code == status) return texts.Get(id);
    return serverPhrase;
}

// The text that tells of a failure.
TextId FailureText(const FailureDetails& details) {
    switch (details.failure) {
        case Failure::Status:
            return details.status == 404 || details.status == 410 ? TextId::ErrorNotFound
                                                                   : TextId::ErrorStatus;
        case Failure::CannotConnect: return TextId::ErrorCannotConnect;
        case Failure::Refused: return TextId::ErrorRefused;
        case Failure::HostNotFound: return TextId::ErrorHostNotFound;
        case Failure::ConnectionLost: return TextId::ErrorConnectionLost;
        case Failure::Incomplete: return TextId::ErrorIncomplete;
        case Failure::Timeout: return TextId::ErrorTimeout;
        case Failure::Secure: return TextId::ErrorSecure;
        case Failure::Handshake:
            switch (details.windows) {
                case OldWindows::Vista: return TextId::ErrorHandshakeVista;
                case OldWindows::Windows7: return TextId::ErrorHandshakeWindows7;
                case OldWindows::None: break;
            }
            return TextId::ErrorHandshake;
        case Failure::Address: return TextId::ErrorAddress;
        case Failure::Write: return TextId::ErrorWrite;
        case Failure::DiskFull:
            return details.total ? TextId::ErrorDiskFullOfSize : TextId::ErrorDiskFull;
        case Failure::Downgrade: return TextId::ErrorDowngrade;
        case Failure::Redirects: return TextId::ErrorRedirects;
        case Failure::Encoded: return TextId::ErrorEncoding;
        case Failure::WrongPart: return TextId::ErrorWrongPart;
        case Failure::ProxyCredentials: return TextId::ErrorProxyCredentials;
        case Failure::ServerCredentials: return TextId::ErrorServerCredentials;
        case Failure::None:
        case Failure::Other: break;
    }
    return TextId::ErrorOther;
}

}  // namespace

// Every text gets every value; each uses the placeholders it names.
std::wstring DescribeFailure(const Texts& texts, const FailureDetails& details,
                             std::wstring_view url) {
    std::wstring status = std::to_wstring(details.status);
    const std::wstring phrase = StatusPhrase(texts, details.status, details.statusText);
    if (!phrase.empty()) status += L" " + phrase;
    const auto size = [&](std::optional<uint64_t> bytes) {
        return bytes ? FormatSize(texts, *bytes) : std::wstring(L"?");
    };
    // The address a redirect led to, the drive or the encoding, where the
    // failure names one; otherwise the address asked for.
    const std::wstring_view named = details.named.empty() ? url : details.named;
    return texts.Format(
        FailureText(details),
        {{L"status", status},
         {L"host", HostOfUrl(url)},
         {L"url", named},
         {L"drive", named},
         {L"encoding", named},
         {L"error", details.errorText},
         {L"done", FormatSize(texts, details.done)},
         {L"total", size(details.total)},
         {L"free", size(details.freeBytes)},
         {L"amount", DescribeProgress(texts, details.done, details.total, std::nullopt).amount},
         {L"seconds", std::to_wstring(kStallSeconds)},
         {L"count", std::to_wstring(kMaxRedirects)}});
}

}  // namespace rvdl
