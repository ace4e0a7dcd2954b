// The text dump of zqExrDump: parts, windows, channels with sample hashes and every other attribute.
#pragma once

#include <ImfAttribute.h>

#include <cstdint>
#include <string>

namespace zqtools {

/// FNV-1a, 64 bits, over bytes fed in order.
class Fnv1a
{
public:
    /// Adds bytes to the hash.
    void add(const void* data, size_t size)
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i)
            m_hash = (m_hash ^ bytes[i]) * 1099511628211ull;
    }
    /// The hash as 16 lower-case hex digits.
    std::string hex() const;

private:
    uint64_t m_hash = 14695981039346656037ull;
};

/// A string in double quotes with C escapes (\" \\ \n, \xNN for other bytes below 0x20 and from 0x7f).
std::string quoted(const std::string& text);
/// A name without quotes: the same escapes, and a blank as \x20, so that it stays one word.
std::string bareName(const std::string& text);
/// The value of an attribute as dumped; failed is set when the value cannot be decoded.
std::string attributeValueText(const Imf::Attribute& attribute, bool& failed);
/// Appends the dump of one file to out (hashes only when pixels is true); false when anything could not be read.
bool dumpExr(const std::string& path, bool pixels, std::string& out);

} // namespace zqtools
