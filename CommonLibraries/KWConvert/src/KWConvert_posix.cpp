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

    // Converts the whole input, handing each output byte to `emit`.
    template <class Emit>
    void Convert(const std::string& input, const char* from_name, const char* to_name, Emit emit)
    {
        char* in = const_cast<char*>(input.data());
        size_t in_left = input.size();
        char buffer[256];
        while (in_left > 0) {
            char* out = buffer;
            size_t out_left = sizeof buffer;
            const size_t result = iconv(cd_, &in, &in_left, &out, &out_left);
            for (char* p = buffer; p != out; ++p) emit(*p);
            if (result == static_cast<size_t>(-1) && errno != E2BIG) {
                const size_t offset = static_cast<size_t>(in - input.data());
                throw detail::ConversionError(input, from_name, to_name, errno != EILSEQ, offset);
            }
        }
    }

private:
    iconv_t cd_;
};

} // namespace

void ConvertUtf8ToSjis(const std::string& utf8, std::string& out, const boost::function<void(std::string&, char)>& append)
{
    Iconv converter("CP932", "UTF-8");
    converter.Convert(utf8, "UTF-8", "CP932", [&](char c) { append(out, c); });
}

std::string ConvertSjisToUtf8(const std::string& sjis)
{
    std::string out;
    Iconv converter("UTF-8", "CP932");
    converter.Convert(sjis, "CP932", "UTF-8", [&](char c) { out.push_back(c); });
    return out;
}

} // namespace kw
