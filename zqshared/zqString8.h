// Fixed-capacity 8-bit strings of the shared library: texts longer than the capacity are cut, never refused.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>

/// An 8-bit string of capacity N held by value: a length, the characters and a terminating zero.
template <int N>
struct _zqString8_allSize
{
    static_assert(N > 0 && N < 32768, "capacity must fit the 16-bit length");

    int16_t length = 0;       ///< number of characters in use
    char    data[N + 1] = {}; ///< the characters, zero-terminated

    /// The empty text.
    _zqString8_allSize() = default;
    /// A copy of a zero-terminated text, cut at N characters.
    _zqString8_allSize(const char* text) { set(text); }

    /// The capacity N.
    static constexpr int capacity() { return N; }
    /// Replaces the content by the first min(count, N) bytes of text.
    void set(const char* text, size_t count)
    {
        size_t n = count < size_t(N) ? count : size_t(N);
        if (n > 0)
            std::memmove(data, text, n);
        length = int16_t(n);
        data[n] = 0;
    }
    /// Replaces the content by a zero-terminated text, cut at N characters.
    void set(const char* text) { set(text ? text : "", text ? std::strlen(text) : 0); }
    /// Empties the text.
    void clear() { set("", 0); }
    /// The zero-terminated characters.
    const char* c_str() const { return data; }
    /// True when the text ends with suffix (case-sensitive).
    bool endsWith(const char* suffix) const
    {
        size_t n = std::strlen(suffix);
        return n <= size_t(length) && std::memcmp(data + length - n, suffix, n) == 0;
    }
    /// Position of the first occurrence of text at or after start, or -1.
    int indexOf(const char* text, int start = 0) const
    {
        if (start < 0 || start > length)
            return -1;
        const char* hit = std::strstr(data + start, text);
        return hit ? int(hit - data) : -1;
    }
    /// True when the content equals the zero-terminated text exactly.
    bool isEqual(const char* text) const { return std::strcmp(data, text) == 0; }
    /// Removes the first occurrence of text, if any.
    void remove(const char* text)
    {
        int at = indexOf(text);
        if (at < 0)
            return;
        size_t n = std::strlen(text);
        std::memmove(data + at, data + at + n, size_t(length) - at - n + 1);
        length = int16_t(length - n);
    }
    /// Replaces every occurrence of oldText by newText, cutting the result at N characters.
    void replace(const char* oldText, const char* newText)
    {
        size_t oldLength = std::strlen(oldText);
        if (oldLength == 0)
            return;
        size_t newLength = std::strlen(newText);
        char   out[N + 1];
        size_t used = 0;
        for (int i = 0; i < length && used < size_t(N);)
        {
            if (std::strncmp(data + i, oldText, oldLength) == 0)
            {
                for (size_t c = 0; c < newLength && used < size_t(N); ++c)
                    out[used++] = newText[c];
                i += int(oldLength);
            }
            else
                out[used++] = data[i++];
        }
        set(out, used);
    }
    /// Truncates the text to newLength characters (no effect when it is not shorter).
    void setLength(int newLength)
    {
        if (newLength < 0)
            newLength = 0;
        if (newLength < length)
        {
            length = int16_t(newLength);
            data[length] = 0;
        }
    }
    /// Lower-cases the ASCII letters.
    void makeLower()
    {
        for (int i = 0; i < length; ++i)
            data[i] = char(std::tolower(static_cast<unsigned char>(data[i])));
    }
};
