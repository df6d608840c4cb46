#pragma once
// The style and the script every page loads, served by Vexa itself (no outside fonts or scripts:
// plant networks are closed).

#include <string_view>

namespace vexa {

extern const std::string_view kWebCss;
extern const std::string_view kWebJs;

}  // namespace vexa
