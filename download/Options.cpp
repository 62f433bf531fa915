#include "Options.h"

#include "AsciiText.h"

namespace rvdl {

std::optional<Option> ParseOptionName(std::string_view name) {
    if (rvz::EqualsAsciiNoCase(name, "title")) return Option::Title;
    if (rvz::EqualsAsciiNoCase(name, "language")) return Option::Language;
    return std::nullopt;
}

}  // namespace rvdl
