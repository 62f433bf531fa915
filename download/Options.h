// The names that rvdl_SetOption accepts.
#pragma once

#include <optional>
#include <string_view>

namespace rvdl {

enum class Option { Title, Language };

// "title" or "language", in any letter case; nothing for any other name.
std::optional<Option> ParseOptionName(std::string_view name);

}  // namespace rvdl
