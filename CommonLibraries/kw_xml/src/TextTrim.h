// The line-by-line trimming of text nodes.
#pragma once

#include <string>

namespace kw {
namespace xml {

// True when `text` is empty or white space only (the node is to be removed).
// Otherwise trims blanks (space, tab) around every line, drops empty lines
// before the first and after the last line with content (with the final line
// break) and keeps empty lines between. A text with a line that does not
// have this shape (other white space at a line's edge) is left unchanged.
bool TrimTextLines(std::string& text);

} // namespace xml
} // namespace kw
