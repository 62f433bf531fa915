#include "TransferRules.h"

#include "Progress.h"

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
    kInvalidServerResponse = 12152,
    kHttpInvalidHeader = 12153,
    kSecurityChannelError = 12157,
    kSecInvalidCert = 12169,
    kSecCertRevoked = 12170,
};

bool IsDigits(std::wstring_view text) {
    if (text.empty() || text.size() > 19) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

uint64_t ToNumber(std::wstring_view digits) {
    uint64_t value = 0;
    for (wchar_t c : digits) value = value * 10 + static_cast<uint64_t>(c - L'0');
    return value;
}

std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && std::iswspace(text.front())) text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back())) text.remove_suffix(1);
    return text;
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
        case kSecurityChannelError:
        case kSecInvalidCert:
        case kSecCertRevoked: return Failure::Secure;
        default: return Failure::Other;
    }
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
    if (!IsDigits(first) || !IsDigits(last)) return std::nullopt;
    ContentRange range;
    range.first = ToNumber(first);
    range.last = ToNumber(last);
    if (range.last < range.first) return std::nullopt;
    if (total != L"*") {
        if (!IsDigits(total) || ToNumber(total) <= range.last) return std::nullopt;
        range.total = ToNumber(total);
    }
    return range;
}

std::optional<uint64_t> ParseLength(std::wstring_view text) {
    text = Trim(text);
    if (!IsDigits(text)) return std::nullopt;
    return ToNumber(text);
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
            verdict.failure = Failure::Incomplete;
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

std::wstring DescribeFailure(const Texts& texts, const FailureDetails& details,
                             std::wstring_view url) {
    const std::wstring host = HostOfUrl(url);
    switch (details.failure) {
        case Failure::Status: {
            std::wstring status = std::to_wstring(details.status);
            if (!details.statusText.empty()) status += L" " + details.statusText;
            const bool missing = details.status == 404 || details.status == 410;
            return texts.Format(missing ? TextId::ErrorNotFound : TextId::ErrorStatus,
                                {{L"status", status}});
        }
        case Failure::CannotConnect:
            return texts.Format(TextId::ErrorCannotConnect, {{L"host", host}});
        case Failure::HostNotFound:
            return texts.Format(TextId::ErrorHostNotFound, {{L"host", host}});
        case Failure::ConnectionLost:
            return texts.Format(TextId::ErrorConnectionLost, {{L"host", host}});
        case Failure::Incomplete: {
            const std::wstring total = details.total ? FormatSize(texts, *details.total) : L"?";
            return texts.Format(
                TextId::ErrorIncomplete,
                {{L"host", host}, {L"done", FormatSize(texts, details.done)}, {L"total", total}});
        }
        case Failure::Timeout:
            return texts.Format(TextId::ErrorTimeout,
                                {{L"host", host}, {L"seconds", std::to_wstring(kStallSeconds)}});
        case Failure::Secure: return texts.Format(TextId::ErrorSecure, {{L"host", host}});
        case Failure::Address: return texts.Format(TextId::ErrorAddress, {{L"url", url}});
        case Failure::Write:
            return texts.Format(TextId::ErrorWrite, {{L"error", details.errorText}});
        case Failure::None:
        case Failure::Other: break;
    }
    return texts.Format(TextId::ErrorOther, {{L"error", details.errorText}});
}

}  // namespace rvdl
