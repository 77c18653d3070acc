#include "TextTrim.h"

#include <algorithm>

namespace kw {
namespace xml {

namespace {

// The space class of the classic locale.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsNewline(char c) { return c == '\n' || c == '\r' || c == '\f'; }

// Collects trimmed lines: terminators after the last content wait until more
// content follows, terminators before the first content are dropped.
class replacer {
public:
    void Content(const char* first, const char* last, const char* termFirst, const char* termLast)
    {
        out_ += pending_;
        out_.append(first, last);
        empty_ = false;
        pending_.assign(termFirst, termLast);
    }
    void Empty(const char* termFirst, const char* termLast)
    {
        if (!empty_) pending_.append(termFirst, termLast);
    }
    std::string& Result() { return out_; }

private:
    bool empty_ = true;
    std::string pending_;
    std::string out_;
};

} // namespace

bool TrimTextLines(std::string& text)
{
    if (std::all_of(text.begin(), text.end(), IsSpace)) return true;

    replacer lines;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const char* lineEnd = std::find_if(p, end, IsNewline);
        const char* termEnd = lineEnd;
        if (termEnd != end) termEnd += (*termEnd == '\r' && termEnd + 1 != end && termEnd[1] == '\n') ? 2 : 1;

        const char* first = std::find_if_not(p, lineEnd, IsBlank);
        const char* last = lineEnd;
        while (last != first && IsBlank(last[-1])) --last;
        if (first == last) {
            lines.Empty(lineEnd, termEnd);
        } else if (IsSpace(*first) || IsSpace(last[-1])) {
            return false; // not a line of the trimmed shape: keep the text
        } else {
            lines.Content(first, last, lineEnd, termEnd);
        }
        p = termEnd;
    }
    text.swap(lines.Result());
    return false;
}

} // namespace xml
} // namespace kw
