// A raw deflate decoder with zlib 1.2.13's results.
//
// zlib decides a stream's fate by what it can read at each step: a code is taken once its bits are in, a refusal is
// made as soon as the bits that show it are in, and the decoder stops when a step needs an input byte or an output
// byte that is not there. This decoder makes every step the same way (decodeExact, need, the block header and the
// code lengths read a byte at a time). Only far from both ends of the buffers, where no step can run short, does a
// faster loop decode whole symbols from a 64-bit read-ahead; the results there are the same by construction.
//
// Codes are decoded from tables indexed by the next bits of the stream: a root table (10 bits for literals and
// lengths, 8 for distances) whose entries either give the symbol or point to a subtable for the codes that are longer.
#include "zqshared/zqInflate.h"

#include <algorithm>
#include <cstring>

namespace {

// A table entry: the value (literal, base of a length or distance, or a subtable's start), the extra bits that follow
// the code (for a subtable link, its index bits), the kind, and the code's length in bits (for a link, the root bits).
enum Kind : uint32_t
{
    Literal,
    Base,       // a length or a distance: value plus the extra bits
    EndOfBlock,
    Link,
    Invalid,    // a codeword that zlib refuses when it reads it
};

constexpr uint32_t entry(uint32_t value, uint32_t extra, Kind kind, uint32_t length)
{
    return value << 16 | extra << 12 | uint32_t(kind) << 8 | length;
}
constexpr uint32_t lengthOf(uint32_t e) { return e & 0xff; }
constexpr Kind     kindOf(uint32_t e) { return Kind((e >> 8) & 0xf); }
constexpr uint32_t extraOf(uint32_t e) { return (e >> 12) & 0xf; }
constexpr uint32_t valueOf(uint32_t e) { return e >> 16; }

constexpr unsigned kLiteralRootBits = 10, kDistanceRootBits = 8, kPrecodeRootBits = 7;
// Room for the root table and every subtable. With a complete code a subtable of 2^k entries takes at least k + 1 of
// the codes, so 286 literal/length codes need at most 286 / 6 subtables of 32 entries, 30 distance codes at most
// 30 / 8 of 128 and one of 32; an incomplete code (one codeword of one bit) needs none.
constexpr size_t kLiteralTableSize = (1u << kLiteralRootBits) + 286 / 6 * 32;
constexpr size_t kDistanceTableSize = (1u << kDistanceRootBits) + 30 / 8 * 128 + 32;
constexpr size_t kPrecodeTableSize = 1u << kPrecodeRootBits;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t  kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t  kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t  kPrecodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class Code
{
    Precode,       // the code of the code lengths: symbols 0 to 18
    LiteralLength, // 286 symbols; the fixed code's 286 and 287 are invalid
    Distance,      // 30 symbols; the fixed code's 30 and 31 are invalid
};

uint32_t symbolEntry(Code code, unsigned symbol, unsigned length)
{
    switch (code)
    {
    case Code::Precode:
        return entry(symbol, 0, Literal, length);
    case Code::LiteralLength:
        if (symbol < 256)
            return entry(symbol, 0, Literal, length);
        if (symbol == 256)
            return entry(0, 0, EndOfBlock, length);
        if (symbol < 286)
            return entry(kLengthBase[symbol - 257], kLengthExtra[symbol - 257], Base, length);
        return entry(0, 0, Invalid, length);
    case Code::Distance:
        return symbol < 30 ? entry(kDistanceBase[symbol], kDistanceExtra[symbol], Base, length)
                           : entry(0, 0, Invalid, length);
    }
    return entry(0, 0, Invalid, length);
}

// Fills table (room for capacity entries) with the canonical code of lengths[0, count), as zlib's inflate_table
// builds it; false where zlib refuses the lengths: an over-subscribed code, or an incomplete one other than a single
// codeword of one bit (never for the precode).
bool buildTable(const uint8_t* lengths, unsigned count, unsigned rootBits, Code code, uint32_t* table, size_t capacity)
{
    unsigned perLength[16] = {};
    for (unsigned symbol = 0; symbol < count; ++symbol)
        ++perLength[lengths[symbol]];
    unsigned longest = 15;
    while (longest > 0 && perLength[longest] == 0)
        --longest;
    const size_t rootSize = size_t(1) << rootBits;
    if (longest == 0)
    {
        // No codes at all: zlib reads one bit of every symbol, as a code length of 0 in the precode, and refuses it
        // elsewhere.
        std::fill(table, table + rootSize, code == Code::Precode ? entry(0, 0, Literal, 1) : entry(0, 0, Invalid, 1));
        return true;
    }
    int left = 1;
    for (unsigned length = 1; length <= 15; ++length)
    {
        left = (left << 1) - int(perLength[length]);
        if (left < 0)
            return false;
    }
    if (left > 0 && (code == Code::Precode || longest != 1))
        return false;
    // The unused codeword of an incomplete code is one bit long and invalid; a complete code fills every entry.
    if (left > 0)
        std::fill(table, table + rootSize, entry(0, 0, Invalid, 1));

    unsigned next[16] = {};
    perLength[0] = 0;
    for (unsigned length = 1, codeword = 0; length <= 15; ++length)
        next[length] = codeword = (codeword + perLength[length - 1]) << 1;
    // Codewords bit-reversed, as the stream gives them, and the longest code below each root index.
    uint16_t reversed[320];
    uint8_t  longestBelow[1u << kLiteralRootBits] = {};
    for (unsigned symbol = 0; symbol < count; ++symbol)
    {
        const unsigned length = lengths[symbol];
        if (length == 0)
            continue;
        unsigned codeword = next[length]++, bits = 0;
        for (unsigned i = 0; i < length; ++i, codeword >>= 1)
            bits = bits << 1 | (codeword & 1);
        reversed[symbol] = uint16_t(bits);
        if (length > rootBits)
        {
            uint8_t& below = longestBelow[bits & (rootSize - 1)];
            below = uint8_t(std::max<unsigned>(below, length));
        }
    }
    size_t used = rootSize;
    for (size_t index = 0; index < rootSize; ++index)
        if (longestBelow[index])
        {
            const unsigned subBits = longestBelow[index] - rootBits;
            if (used + (size_t(1) << subBits) > capacity)
                return false; // cannot happen with the sizes above; kept so that no table is overrun
            table[index] = entry(uint32_t(used), subBits, Link, rootBits);
            used += size_t(1) << subBits;
        }
    for (unsigned symbol = 0; symbol < count; ++symbol)
    {
        const unsigned length = lengths[symbol];
        if (length == 0)
            continue;
        const uint32_t e = symbolEntry(code, symbol, length);
        if (length <= rootBits)
            for (size_t index = reversed[symbol]; index < rootSize; index += size_t(1) << length)
                table[index] = e;
        else
        {
            const uint32_t link = table[reversed[symbol] & (rootSize - 1)];
            const size_t   subSize = size_t(1) << extraOf(link);
            for (size_t index = reversed[symbol] >> rootBits; index < subSize; index += size_t(1) << (length - rootBits))
                table[valueOf(link) + index] = e;
        }
    }
    return true;
}

// The fixed code's tables, made once.
struct FixedTables
{
    uint32_t literal[kLiteralTableSize];
    uint32_t distance[kDistanceTableSize];

    FixedTables()
    {
        uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        buildTable(lengths, 288, kLiteralRootBits, Code::LiteralLength, literal, kLiteralTableSize);
        std::fill(lengths, lengths + 32, 5);
        buildTable(lengths, 32, kDistanceRootBits, Code::Distance, distance, kDistanceTableSize);
    }
};

const FixedTables& fixedTables()
{
    static const FixedTables tables;
    return tables;
}

inline uint64_t load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

class Inflater
{
public:
    Inflater(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize)
        : m_inStart(in), m_in(in), m_inEnd(in + inSize), m_outStart(out), m_out(out), m_outEnd(out + outSize)
    {
    }

    zqInflateOutcome run()
    {
        const zqInflateOutcome::Status status = blocks();
        zqInflateOutcome outcome;
        outcome.status = status;
        outcome.written = size_t(m_out - m_outStart);
        outcome.consumed = status == zqInflateOutcome::StreamEnd ? size_t(m_in - m_inStart) : 0;
        return outcome;
    }

private:
    enum Step
    {
        Next,  // go on with the next block
        Error, // a data error
        Short, // out of input or output room
    };

    // One byte more into the bit buffer; false at the end of the input.
    bool pull()
    {
        if (m_in == m_inEnd)
            return false;
        m_hold |= uint64_t(*m_in++) << m_bits;
        m_bits += 8;
        return true;
    }
    bool need(unsigned bits)
    {
        while (m_bits < bits)
            if (!pull())
                return false;
        return true;
    }
    uint32_t take(unsigned bits)
    {
        const uint32_t value = uint32_t(m_hold & ((uint64_t(1) << bits) - 1));
        m_hold >>= bits;
        m_bits -= bits;
        return value;
    }
    static uint32_t lookup(const uint32_t* table, unsigned rootBits, uint64_t hold)
    {
        uint32_t e = table[hold & ((uint64_t(1) << rootBits) - 1)];
        if (kindOf(e) == Link)
            e = table[valueOf(e) + ((hold >> rootBits) & ((uint64_t(1) << extraOf(e)) - 1))];
        return e;
    }
    // A code taken as soon as its bits are in; false when the input ends first. The bits not yet in read as 0, which
    // can only give a codeword longer than the bits that are in, so the loop pulls another byte.
    bool decodeExact(const uint32_t* table, unsigned rootBits, uint32_t& e)
    {
        for (;;)
        {
            e = lookup(table, rootBits, m_hold);
            if (lengthOf(e) <= m_bits)
            {
                take(lengthOf(e));
                return true;
            }
            if (!pull())
                return false;
        }
    }

    zqInflateOutcome::Status blocks()
    {
        for (;;)
        {
            if (!need(3))
                return zqInflateOutcome::Stopped;
            const bool     last = take(1) != 0;
            const uint32_t type = take(2);
            Step           step = Error;
            if (type == 0)
                step = stored();
            else if (type == 1)
                step = codes(fixedTables().literal, fixedTables().distance);
            else if (type == 2)
            {
                step = dynamicTables();
                if (step == Next)
                    step = codes(m_literal, m_distance);
            }
            if (step == Error)
                return zqInflateOutcome::DataError;
            if (step == Short)
                return zqInflateOutcome::Stopped;
            if (last)
            {
                // The rest of the last byte is skipped.
                take(m_bits & 7);
                return zqInflateOutcome::StreamEnd;
            }
        }
    }

    Step stored()
    {
        take(m_bits & 7);
        if (!need(32))
            return Short;
        const uint32_t lengths = take(32);
        if ((lengths & 0xffff) != ((lengths >> 16) ^ 0xffff))
            return Error;
        size_t length = lengths & 0xffff;
        while (length > 0)
        {
            const size_t copy = std::min({length, size_t(m_inEnd - m_in), size_t(m_outEnd - m_out)});
            if (copy == 0)
                return Short;
            std::memcpy(m_out, m_in, copy);
            m_out += copy;
            m_in += copy;
            length -= copy;
        }
        return Next;
    }

    Step dynamicTables()
    {
        if (!need(14))
            return Short;
        const unsigned literals = take(5) + 257, distances = take(5) + 1, precodes = take(4) + 4;
        if (literals > 286 || distances > 30)
            return Error;
        uint8_t precodeLengths[19] = {};
        for (unsigned i = 0; i < precodes; ++i)
        {
            if (!need(3))
                return Short;
            precodeLengths[kPrecodeOrder[i]] = uint8_t(take(3));
        }
        uint32_t precode[kPrecodeTableSize];
        if (!buildTable(precodeLengths, 19, kPrecodeRootBits, Code::Precode, precode, kPrecodeTableSize))
            return Error;

        uint8_t        lengths[286 + 30] = {};
        const unsigned total = literals + distances;
        for (unsigned have = 0; have < total;)
        {
            uint32_t e = 0;
            if (!decodeExact(precode, kPrecodeRootBits, e))
                return Short;
            const uint32_t symbol = valueOf(e);
            if (symbol < 16)
            {
                lengths[have++] = uint8_t(symbol);
                continue;
            }
            const unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
            if (!need(extra))
                return Short;
            if (symbol == 16 && have == 0)
                return Error;
            const uint8_t  repeated = symbol == 16 ? lengths[have - 1] : 0;
            const unsigned copies = (symbol == 18 ? 11 : 3) + take(extra);
            if (have + copies > total)
                return Error;
            std::fill(lengths + have, lengths + have + copies, repeated);
            have += copies;
        }
        if (lengths[256] == 0)
            return Error;
        if (!buildTable(lengths, literals, kLiteralRootBits, Code::LiteralLength, m_literal, kLiteralTableSize) ||
            !buildTable(lengths + literals, distances, kDistanceRootBits, Code::Distance, m_distance,
                        kDistanceTableSize))
            return Error;
        return Next;
    }

    // Copies a match of length bytes from distance bytes back to out; the caller has checked the distance and the
    // room. With roomForWords, up to 7 bytes past the match may be written too.
    static uint8_t* copyMatch(uint8_t* out, uint32_t length, uint32_t distance, bool roomForWords)
    {
        const uint8_t* from = out - distance;
        if (roomForWords && distance >= 8)
        {
            // Eight bytes at a time, each word already written when the copy overlaps.
            for (uint32_t done = 0; done < length; done += 8)
                std::memcpy(out + done, from + done, 8);
        }
        else if (distance == 1)
            std::memset(out, *from, length);
        else
            for (uint32_t i = 0; i < length; ++i)
                out[i] = from[i];
        return out + length;
    }

    Step codes(const uint32_t* literal, const uint32_t* distance)
    {
        for (;;)
        {
            const Step fast = codesFast(literal, distance);
            if (fast != Short)
                return fast;

            // One symbol the exact way.
            uint32_t e = 0;
            if (!decodeExact(literal, kLiteralRootBits, e))
                return Short;
            const Kind kind = kindOf(e);
            if (kind == Literal)
            {
                if (m_out == m_outEnd)
                    return Short;
                *m_out++ = uint8_t(valueOf(e));
                continue;
            }
            if (kind == EndOfBlock)
                return Next;
            if (kind == Invalid)
                return Error;
            if (!need(extraOf(e)))
                return Short;
            uint32_t length = valueOf(e) + take(extraOf(e));
            uint32_t d = 0;
            if (!decodeExact(distance, kDistanceRootBits, d))
                return Short;
            if (kindOf(d) == Invalid)
                return Error;
            if (!need(extraOf(d)))
                return Short;
            const uint32_t back = valueOf(d) + take(extraOf(d));
            if (m_out == m_outEnd)
                return Short;
            if (back > size_t(m_out - m_outStart))
                return Error;
            const size_t room = size_t(m_outEnd - m_out);
            const bool   cut = length > room;
            m_out = copyMatch(m_out, cut ? uint32_t(room) : length, back, false);
            if (cut)
                return Short;
        }
    }

    // Whole symbols while at least 16 input bytes and room for the longest match and a word copy's overrun remain.
    // Returns Short when it reaches either end (the bit buffer then holds less than a byte again, as decodeExact
    // expects), Next at the end of the block, Error on a data error.
    Step codesFast(const uint32_t* literal, const uint32_t* distance)
    {
        // In locals: a byte written through out could otherwise be the members' own bytes, as far as the compiler
        // knows.
        uint64_t             hold = m_hold;
        unsigned             bits = m_bits;
        const uint8_t*       in = m_in;
        uint8_t*             out = m_out;
        const uint8_t* const inEnd = m_inEnd;
        uint8_t* const       outStart = m_outStart;
        uint8_t* const       outEnd = m_outEnd;
        Step                 step = Short;
        const uint64_t       rootMask = (uint64_t(1) << kLiteralRootBits) - 1;
        while (inEnd - in >= 16 && outEnd - out >= 258 + 8)
        {
            // At least 56 bits: a length, its extra bits, a distance and its extra bits take at most 48.
            hold |= load64(in) << bits;
            in += (63 - bits) >> 3;
            bits |= 56;

            // Up to three literals of root-table codes (at most 10 bits each); anything else after a fresh refill.
            uint32_t e = literal[hold & rootMask];
            if (kindOf(e) == Literal)
            {
                for (int more = 2;; --more)
                {
                    hold >>= lengthOf(e);
                    bits -= lengthOf(e);
                    *out++ = uint8_t(valueOf(e));
                    e = literal[hold & rootMask];
                    if (more == 0 || kindOf(e) != Literal)
                        break;
                }
                continue;
            }
            if (kindOf(e) == Link)
                e = literal[valueOf(e) + ((hold >> kLiteralRootBits) & ((uint64_t(1) << extraOf(e)) - 1))];
            hold >>= lengthOf(e);
            bits -= lengthOf(e);
            const Kind kind = kindOf(e);
            if (kind == Literal)
            {
                *out++ = uint8_t(valueOf(e));
                continue;
            }
            if (kind != Base)
            {
                step = kind == EndOfBlock ? Next : Error;
                break;
            }
            const uint32_t length = valueOf(e) + uint32_t(hold & ((uint64_t(1) << extraOf(e)) - 1));
            hold >>= extraOf(e);
            bits -= extraOf(e);
            const uint32_t d = lookup(distance, kDistanceRootBits, hold);
            hold >>= lengthOf(d);
            bits -= lengthOf(d);
            if (kindOf(d) == Invalid)
            {
                step = Error;
                break;
            }
            const uint32_t back = valueOf(d) + uint32_t(hold & ((uint64_t(1) << extraOf(d)) - 1));
            hold >>= extraOf(d);
            bits -= extraOf(d);
            if (back > size_t(out - outStart))
            {
                step = Error;
                break;
            }
            out = copyMatch(out, length, back, true);
        }
        // Whole bytes read ahead go back to the input.
        in -= bits >> 3;
        bits &= 7;
        m_hold = hold & ((uint64_t(1) << bits) - 1);
        m_bits = bits;
        m_in = in;
        m_out = out;
        return step;
    }

    const uint8_t* const m_inStart;
    const uint8_t*       m_in;
    const uint8_t* const m_inEnd;
    uint8_t* const       m_outStart;
    uint8_t*             m_out;
    uint8_t* const       m_outEnd;
    uint64_t             m_hold = 0;
    unsigned             m_bits = 0;
    uint32_t             m_literal[kLiteralTableSize];
    uint32_t             m_distance[kDistanceTableSize];
};

} // namespace

zqInflateOutcome zqInflateRaw(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize)
{
    Inflater inflater(in, inSize, out, outSize);
    return inflater.run();
}
