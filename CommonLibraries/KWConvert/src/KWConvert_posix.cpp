// UTF-8 and CP932 through iconv.
#include <kw/KWConvert.h>

#include "ConversionError.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace kw {
namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("no converter from ") + from + " to " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts the whole input.
    std::string Convert(const std::string& input, const char* from_name, const char* to_name)
    {
        std::string converted;
        char* in = const_cast<char*>(input.data());
        size_t in_left = input.size();
        char buffer[256];
        while (in_left > 0) {
            char* out = buffer;
            size_t out_left = sizeof buffer;
            const size_t result = iconv(cd_, &in, &in_left, &out, &out_left);
            converted.append(buffer, out);
            if (result == static_cast<size_t>(-1) && errno != E2BIG) {
                const size_t offset = static_cast<size_t>(in - input.data());
                throw detail::ConversionError(input, from_name, to_name, errno != EILSEQ, offset);
            }
        }
        return converted;
    }

private:
    iconv_t cd_;
};

std::string Convert(const std::string& input, const char* from, const char* to)
{
    return Iconv(to, from).Convert(input, from, to);
}

// Several characters share one CP932 form (U+301C and U+FF5E, U+2212 and
// U+FF0D) and some characters have two: a text whose conversion does not
// come back the same would silently become another text.
void RequireRoundTrip(const std::string& input, const std::string& back, const std::string& shown, const char* from,
                      const char* to)
{
    if (back != input)
        throw std::invalid_argument("cannot convert \"" + shown + "\" from " + from + " to " + to +
                                    " exactly: it does not come back the same");
}

} // namespace

void ConvertUtf8ToSjis(const std::string& utf8, std::string& out, const boost::function<void(std::string&, char)>& append)
{
    const std::string sjis = Convert(utf8, "UTF-8", "CP932");
    RequireRoundTrip(utf8, Convert(sjis, "CP932", "UTF-8"), utf8, "UTF-8", "CP932");
    for (const char c : sjis) append(out, c);
}

std::string ConvertSjisToUtf8(const std::string& sjis)
{
    const std::string utf8 = Convert(sjis, "CP932", "UTF-8");
    // Named by its UTF-8 form: error texts here carry no CP932 bytes.
    RequireRoundTrip(sjis, Convert(utf8, "UTF-8", "CP932"), utf8, "CP932", "UTF-8");
    return utf8;
}

} // namespace kw
