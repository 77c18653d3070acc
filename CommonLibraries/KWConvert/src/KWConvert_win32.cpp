// UTF-8 and CP932 through the Windows code page tables, one character at a
// time: no best-fit replacements, and a character that does not come back the
// same is an error, so nothing is ever silently changed.
#include <kw/KWConvert.h>

#include "ConversionError.h"

#include <windows.h>

#include <cstddef>

namespace kw {
namespace {

const UINT kCp932 = 932;

// The bytes of the character that starts with `lead`; 0 when no character does.
std::size_t Utf8Length(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

std::size_t Cp932Length(unsigned char lead)
{
    return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
}

// One character to UTF-16; 0 when it has no form.
int ToWide(UINT code_page, const char* bytes, std::size_t count, wchar_t (&wide)[2])
{
    return ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(count), wide, 2);
}

// One UTF-16 character to the code page; 0 when it has no exact form.
int FromWide(UINT code_page, const wchar_t* wide, int count, char (&bytes)[4])
{
    BOOL used_default = FALSE;
    const bool cp932 = code_page == kCp932;
    const int size = ::WideCharToMultiByte(code_page, cp932 ? WC_NO_BEST_FIT_CHARS : 0, wide, count, bytes, 4,
                                           nullptr, cp932 ? &used_default : nullptr);
    return used_default ? 0 : size;
}

// Converts `input` character by character.
std::string Convert(const std::string& input, UINT from, UINT to, const char* from_name, const char* to_name)
{
    std::string converted;
    for (std::size_t at = 0; at < input.size();) {
        const unsigned char lead = static_cast<unsigned char>(input[at]);
        const std::size_t length = from == CP_UTF8 ? Utf8Length(lead) : Cp932Length(lead);
        if (length == 0) throw detail::ConversionError(input, from_name, to_name, false, at);
        if (at + length > input.size()) throw detail::ConversionError(input, from_name, to_name, true, at);
        wchar_t wide[2], wide_back[2];
        char bytes[4], bytes_back[4];
        const int wide_count = ToWide(from, input.data() + at, length, wide);
        const int count = wide_count ? FromWide(to, wide, wide_count, bytes) : 0;
        // The character must come back as it was, in both encodings.
        const int back_count = count ? FromWide(from, wide, wide_count, bytes_back) : 0;
        const bool exact = back_count == static_cast<int>(length) &&
                           std::string(bytes_back, length) == input.substr(at, length) &&
                           ToWide(to, bytes, static_cast<std::size_t>(count), wide_back) == wide_count &&
                           std::wstring(wide_back, wide_count) == std::wstring(wide, wide_count);
        if (!exact) throw detail::ConversionError(input, from_name, to_name, false, at);
        converted.append(bytes, static_cast<std::size_t>(count));
        at += length;
    }
    return converted;
}

} // namespace

void ConvertUtf8ToSjis(const std::string& utf8, std::string& out, const boost::function<void(std::string&, char)>& append)
{
    // Nothing is appended unless the whole text converts.
    const std::string sjis = Convert(utf8, CP_UTF8, kCp932, "UTF-8", "CP932");
    for (const char c : sjis) append(out, c);
}

std::string ConvertSjisToUtf8(const std::string& sjis)
{
    return Convert(sjis, kCp932, CP_UTF8, "CP932", "UTF-8");
}

} // namespace kw
