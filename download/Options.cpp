#include "Options.h"

namespace rvdl {

namespace {

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != lower[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<Option> ParseOptionName(std::string_view name) {
    if (EqualsIgnoringCase(name, "title")) return Option::Title;
    if (EqualsIgnoringCase(name, "language")) return Option::Language;
    return std::nullopt;
}

}  // namespace rvdl
