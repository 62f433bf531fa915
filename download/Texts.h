// The dialog's texts: their keys in the language file, the built-in English
// that stands in for a missing file or key, and placeholder substitution.
#pragma once

#include <array>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace rvdl {

enum class TextId {
    Title,
    Heading,
    Source,
    Connecting,
    Resuming,
    Busy,
    AmountOfTotal,
    AmountOnly,
    SpeedAndTimeLeft,
    Speed,
    Bytes,
    Kilobytes,
    Megabytes,
    Gigabytes,
    DecimalSeparator,
    Seconds,
    MinutesSeconds,
    Minutes,
    HoursMinutes,
    FailedHeading,
    ErrorStatus,
    ErrorNotFound,
    ErrorCannotConnect,
    ErrorRefused,
    ErrorHostNotFound,
    ErrorConnectionLost,
    ErrorIncomplete,
    ErrorTimeout,
    ErrorSecure,
    ErrorHandshake,
    ErrorHandshakeWindows7,
    ErrorHandshakeVista,
    ErrorAddress,
    ErrorWrite,
    ErrorDiskFull,
    ErrorDiskFullOfSize,
    ErrorDowngrade,
    ErrorRedirects,
    ErrorEncoding,
    ErrorWrongPart,
    ErrorProxyCredentials,
    ErrorServerCredentials,
    ErrorOther,
    Retry,
    Cancel,
    CredentialsProxy,
    CredentialsServer,
    UserName,
    Password,
    Ok,
    // The common HTTP status phrases, shown with the number.
    Status400,
    Status401,
    Status403,
    Status404,
    Status407,
    Status408,
    Status410,
    Status429,
    Status500,
    Status502,
    Status503,
    Status504,
    Count
};

constexpr size_t kTextCount = static_cast<size_t>(TextId::Count);

// The section of the language file that holds the texts.
constexpr wchar_t kTextSection[] = L"Strings";

struct TextEntry {
    const wchar_t* key;
    const wchar_t* english;
};

const TextEntry& TextInfo(TextId id);

// Name-value pairs for the {name} placeholders of a text.
using Substitutions = std::initializer_list<std::pair<std::wstring_view, std::wstring_view>>;

// Replaces each {name} of the pattern by its value, in one pass: values are
// never searched again, and unknown placeholders stay as they are.
std::wstring Substitute(std::wstring_view pattern, Substitutions values);

class Texts {
public:
    // Answers the value of a key of the language file, or nothing.
    using Lookup = std::function<std::optional<std::wstring>(const wchar_t* key)>;

    Texts();  // built-in English
    // English for every key the lookup does not answer, or answers empty.
    static Texts Load(const Lookup& lookup);

    const std::wstring& Get(TextId id) const { return texts_[static_cast<size_t>(id)]; }
    std::wstring Format(TextId id, Substitutions values) const {
        return Substitute(Get(id), values);
    }

private:
    std::array<std::wstring, kTextCount> texts_;
};

}  // namespace rvdl
