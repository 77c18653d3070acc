// The length of a seekable input stream, found by seeking to its end and
// back to its start; -1 when the stream cannot tell it.
#pragma once

#include <istream>

inline std::streamoff StreamLength(std::istream& stream)
{
    stream.seekg(0, std::ios::end);
    const std::streamoff length = stream.tellg();
    stream.seekg(0, std::ios::beg);
    return length;
}
