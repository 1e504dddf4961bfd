// What a console program wrote to a redirected standard output or standard error, as UTF-8 text.
#pragma once

#include <string>

namespace vemlox::win {

// `bytes` that are valid UTF-8 come back unchanged; any other bytes are read as text in
// `code_page` (the OEM code page, for the programs we start) and come back as UTF-8. Never fails:
// a byte that the code page cannot map becomes a replacement character.
[[nodiscard]] std::string console_output_text(std::string bytes, unsigned code_page);

} // namespace vemlox::win
