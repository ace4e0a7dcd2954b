// PIZ's Huffman code and wavelet transform, undone: the code read through a window of 64 bits and a lookup of 14, the
// transform's finest level 8 words at a time where SSE2 is there.
#include "frame/pizDecoding.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZQ_HAVE_SSE2 1
#endif

namespace {

using Tables = PizHuffmanTables;

// A code length of 59 to 62 stands for a run of 2 to 5 values without a code; 63 for one of 6 to 261, in 8 more bits.
constexpr uint32_t kShortZeroRun = 59;
constexpr uint32_t kLongZeroRun = 63;
constexpr uint32_t kShortestLongRun = 2 + kLongZeroRun - kShortZeroRun;

uint32_t littleEndian32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// Bits, most significant first, from bytes that end at end.
class BitReader
{
public:
    BitReader(const uint8_t* bytes, const uint8_t* end) : m_next(bytes), m_end(end) {}

    // The next count (up to 24) bits; false when fewer are left.
    bool read(uint32_t count, uint32_t& value)
    {
        while (m_held < count)
        {
            if (m_next == m_end)
                return false;
            m_bits = m_bits << 8 | *m_next++;
            m_held += 8;
        }
        m_held -= count;
        value = uint32_t(m_bits >> m_held) & ((uint32_t(1) << count) - 1);
        return true;
    }
    // The first byte not read.
    const uint8_t* next() const { return m_next; }

private:
    const uint8_t* m_next;
    const uint8_t* m_end;
    uint64_t       m_bits = 0;
    uint32_t       m_held = 0;
};

// The code lengths of the values first to last, with their runs of values without a code.
bool readCodeLengths(BitReader& bits, uint32_t first, uint32_t last, uint8_t* lengths)
{
    for (uint32_t value = first; value <= last;)
    {
        uint32_t length = 0, run = 0;
        if (!bits.read(6, length))
            return false;
        if (length < kShortZeroRun)
        {
            lengths[value++] = uint8_t(length);
            continue;
        }
        if (length == kLongZeroRun)
        {
            if (!bits.read(8, run))
                return false;
            run += kShortestLongRun;
        }
        else
            run = length - kShortZeroRun + 2;
        if (run > last + 1 - value)
            return false;
        std::memset(lengths + value, 0, run);
        value += run;
    }
    return true;
}

// The canonical code of the lengths: the codes of each length follow one another in the order of their values, and
// a shorter code, filled with zeros on the right, is greater than a longer one. False unless it is a prefix code
// whose codes fit their lengths.
bool buildTables(Tables& tables, uint32_t first, uint32_t last)
{
    std::fill(std::begin(tables.codes), std::end(tables.codes), 0u);
    for (uint32_t value = first; value <= last; ++value)
        ++tables.codes[tables.lengths[value]];
    uint32_t shorter = 0; // codes shorter than the length at hand
    for (int length = 1; length <= Tables::kLongest; ++length)
    {
        tables.firstValue[length] = shorter;
        shorter += tables.codes[length];
    }
    uint64_t code = 0;
    for (int length = Tables::kLongest; length >= 1; --length)
    {
        shorter -= tables.codes[length];
        tables.firstCode[length] = code;
        const uint64_t end = code + tables.codes[length];
        if (end > uint64_t(1) << length)
            return false;
        // An odd end leaves the last code of this length under the first shorter one.
        if ((end & 1) && shorter > 0)
            return false;
        code = end >> 1;
    }
    uint32_t placed[Tables::kLongest + 1] = {};
    for (uint32_t value = first; value <= last; ++value)
        if (uint32_t length = tables.lengths[value])
            tables.values[tables.firstValue[length] + placed[length]++] = value;
    std::fill(std::begin(tables.lookup), std::end(tables.lookup), 0u);
    for (int length = 1; length <= Tables::kLookupBits; ++length)
        for (uint32_t i = 0; i < tables.codes[length]; ++i)
        {
            const uint32_t entry = tables.values[tables.firstValue[length] + i] << 8 | uint32_t(length);
            const uint64_t from = (tables.firstCode[length] + i) << (Tables::kLookupBits - length);
            std::fill_n(tables.lookup + from, size_t(1) << (Tables::kLookupBits - length), entry);
        }
    return true;
}

uint64_t bigEndian64(const uint8_t* bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// The 64 bits from bit at on, of a code of the given bytes; bits after its end read as zeros.
inline uint64_t peek(const uint8_t* code, uint64_t bytes, uint64_t at)
{
    const uint64_t byte = at >> 3;
    const unsigned shift = unsigned(at & 7);
    uint8_t        tail[9] = {};
    const uint8_t* from = code + byte;
    if (bytes - byte < 9) // at lies inside the code
    {
        std::memcpy(tail, from, size_t(bytes - byte));
        from = tail;
    }
    uint64_t value = bigEndian64(from);
    return shift ? value << shift | from[8] >> (8 - shift) : value;
}

// The table entry of the code at the top of window: one lookup for a short code, else the range of each longer length
// in turn; 0 for bits that are no code.
inline uint32_t codeAt(const Tables& tables, uint64_t window)
{
    uint32_t entry = tables.lookup[window >> (64 - Tables::kLookupBits)];
    if (!entry)
        for (int length = Tables::kLookupBits + 1; length <= Tables::kLongest; ++length)
        {
            const uint64_t index = (window >> (64 - length)) - tables.firstCode[length];
            if (index < tables.codes[length])
                return tables.values[tables.firstValue[length] + index] << 8 | uint32_t(length);
        }
    return entry;
}

// Writes a decoded value, or for the run code repeats the word before it run times; false where it does not fit.
inline bool put(uint32_t value, uint32_t runCode, uint32_t run, uint16_t* out, uint16_t*& next, uint16_t* end)
{
    if (value != runCode)
    {
        if (next == end)
            return false;
        *next++ = uint16_t(value);
        return true;
    }
    if (next == out || run > uint64_t(end - next))
        return false;
    std::fill_n(next, run, next[-1]);
    next += run;
    return true;
}

// Decodes the code's bits into out to end; runCode repeats the word before it as often as its next 8 bits say.
bool decodeCode(const Tables& tables, const uint8_t* code, uint64_t bits, uint32_t runCode, uint16_t* out,
                uint16_t* end)
{
    const uint64_t bytes = (bits + 7) / 8;
    const uint8_t* from = code; // the first byte not yet in the window
    uint64_t       window = 0;  // the next bits, at the top; all 64 are the code's once it has been filled
    uint32_t       held = 0;    // of which so many are counted
    uint64_t       at = 0;      // the bits taken
    uint16_t*      next = out;
    // Away from the end, the window is filled 8 bytes at a time, and a code and its run's 8 bits are taken from its
    // counted bits. (A code found there is the right one: no other code begins with it.)
    auto fill = [&] {
        if (bytes - uint64_t(from - code) < 8)
            return false;
        window |= bigEndian64(from) >> held;
        from += (63 - held) >> 3;
        held |= 56;
        return true;
    };
    for (;;)
    {
        if (held < 32 && !fill())
            break;
        uint32_t entry = codeAt(tables, window), length = entry & 0xff, value = entry >> 8;
        uint32_t taken = value == runCode ? length + 8 : length;
        if (entry && taken > held && held < 56 && fill())
        {
            entry = codeAt(tables, window), length = entry & 0xff, value = entry >> 8;
            taken = value == runCode ? length + 8 : length;
        }
        if (!entry || taken > held)
            break; // the careful reading below refuses it, or reads a code longer than the window holds
        if (taken > bits - at)
            return false;
        const uint32_t run = uint32_t((window << length) >> 56);
        window <<= taken;
        held -= taken;
        at += taken;
        if (!put(value, runCode, run, out, next, end))
            return false;
    }
    // The last bytes, read from each code's first bit on, and anything the window could not hold.
    while (at < bits)
    {
        const uint32_t entry = codeAt(tables, peek(code, bytes, at)), length = entry & 0xff, value = entry >> 8;
        if (!entry || length > bits - at)
            return false;
        at += length;
        uint32_t run = 0;
        if (value == runCode)
        {
            if (bits - at < 8)
                return false;
            run = uint32_t(peek(code, bytes, at) >> 56);
            at += 8;
        }
        if (!put(value, runCode, run, out, next, end))
            return false;
    }
    return next == end;
}

// One step of the transform undone: from a mean l and a difference h back to the pair a, b.
inline void undoStep(bool form14, uint16_t l, uint16_t h, uint16_t& a, uint16_t& b)
{
    if (form14)
    {
        const int hs = int16_t(h);
        const int as = int16_t(l) + (hs & 1) + (hs >> 1);
        a = uint16_t(as);
        b = uint16_t(as - hs);
    }
    else
    {
        b = uint16_t(l - (h >> 1));
        a = uint16_t(h + b + 0x8000);
    }
}

// A block of four samples p apart: both columns, then both lines.
inline void undoBlock(bool form14, uint16_t* words, size_t right, size_t down)
{
    uint16_t topLeft, bottomLeft, topRight, bottomRight;
    undoStep(form14, words[0], words[down], topLeft, bottomLeft);
    undoStep(form14, words[right], words[down + right], topRight, bottomRight);
    undoStep(form14, topLeft, topRight, words[0], words[right]);
    undoStep(form14, bottomLeft, bottomRight, words[down], words[down + right]);
}

inline void undoPair(bool form14, uint16_t* words, size_t other)
{
    undoStep(form14, words[0], words[other], words[0], words[other]);
}

#ifdef ZQ_HAVE_SSE2
inline void undoSteps(bool form14, __m128i l, __m128i h, __m128i& a, __m128i& b)
{
    if (form14)
    {
        a = _mm_add_epi16(_mm_add_epi16(l, _mm_and_si128(h, _mm_set1_epi16(1))), _mm_srai_epi16(h, 1));
        b = _mm_sub_epi16(a, h);
    }
    else
    {
        b = _mm_sub_epi16(l, _mm_srli_epi16(h, 1));
        a = _mm_add_epi16(_mm_add_epi16(h, b), _mm_set1_epi16(int16_t(0x8000)));
    }
}

// The pairs along one line of 16 words: each even sample with the odd one after it.
inline void undoAlongLine(bool form14, int wordsPerSample, uint16_t* line, __m128i first, __m128i second)
{
    __m128i even, odd, a, b;
    if (wordsPerSample == 1)
    {
        even = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(first, 16), 16),
                               _mm_srai_epi32(_mm_slli_epi32(second, 16), 16));
        odd = _mm_packs_epi32(_mm_srai_epi32(first, 16), _mm_srai_epi32(second, 16));
        undoSteps(form14, even, odd, a, b);
        first = _mm_unpacklo_epi16(a, b);
        second = _mm_unpackhi_epi16(a, b);
    }
    else
    {
        even = _mm_castps_si128(
            _mm_shuffle_ps(_mm_castsi128_ps(first), _mm_castsi128_ps(second), _MM_SHUFFLE(2, 0, 2, 0)));
        odd = _mm_castps_si128(
            _mm_shuffle_ps(_mm_castsi128_ps(first), _mm_castsi128_ps(second), _MM_SHUFFLE(3, 1, 3, 1)));
        undoSteps(form14, even, odd, a, b);
        first = _mm_unpacklo_epi32(a, b);
        second = _mm_unpackhi_epi32(a, b);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 8), second);
}

// The finest level's blocks of two lines, 16 words of each at a time; the words done, a whole number of blocks.
size_t undoFinestBlocks(bool form14, int wordsPerSample, uint16_t* top, uint16_t* bottom, size_t words)
{
    size_t i = 0;
    for (; i + 16 <= words; i += 16)
    {
        __m128i top0, top1, bottom0, bottom1;
        undoSteps(form14, _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + i)),
                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + i)), top0, bottom0);
        undoSteps(form14, _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + i + 8)),
                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + i + 8)), top1, bottom1);
        undoAlongLine(form14, wordsPerSample, top + i, top0, top1);
        undoAlongLine(form14, wordsPerSample, bottom + i, bottom0, bottom1);
    }
    return i;
}
#endif

// One level of the transform, whose blocks are of samples p apart.
void undoLevel(bool form14, uint16_t* words, int64_t width, int64_t height, int wordsPerSample, int64_t p)
{
    const size_t  sample = size_t(wordsPerSample), line = size_t(width) * sample;
    const size_t  right = sample * size_t(p), down = line * size_t(p);
    const int64_t step = 2 * p;
    int64_t       y = 0;
    for (; y + step <= height; y += step)
    {
        uint16_t* row = words + size_t(y) * line;
        int64_t   x = 0;
#ifdef ZQ_HAVE_SSE2
        if (p == 1 && sample <= 2)
            x = int64_t(undoFinestBlocks(form14, wordsPerSample, row, row + line, size_t(width & ~1) * sample) /
                        sample);
#endif
        for (; x + step <= width; x += step)
            for (size_t j = 0; j < sample; ++j)
                undoBlock(form14, row + size_t(x) * sample + j, right, down);
        if (width & p) // the last column, without a partner on its right
            for (size_t j = 0; j < sample; ++j)
                undoPair(form14, row + size_t(x) * sample + j, down);
    }
    if (height & p) // the last line, without a partner below it
    {
        uint16_t* row = words + size_t(y) * line;
        for (int64_t x = 0; x + step <= width; x += step)
            for (size_t j = 0; j < sample; ++j)
                undoPair(form14, row + size_t(x) * sample + j, right);
    }
}

} // namespace

bool decodePizHuffman(const uint8_t* block, uint64_t bytes, uint16_t* out, uint64_t count, PizHuffmanTables& tables)
{
    constexpr uint64_t kLeader = 20;
    if (bytes < kLeader)
        return count == 0;
    const uint32_t first = littleEndian32(block), last = littleEndian32(block + 4), bits = littleEndian32(block + 12);
    if (first >= uint32_t(Tables::kValues) || last >= uint32_t(Tables::kValues) || (uint64_t(bits) + 7) / 8 > bytes)
        return false;
    // The last value is the run code. (Where it lies below the first, there is no code at all.)
    BitReader lengths(block + kLeader, block + bytes);
    if (!readCodeLengths(lengths, first, last, tables.lengths) || !buildTables(tables, first, last))
        return false;
    const uint8_t* code = lengths.next();
    if (bits > 8 * uint64_t(block + bytes - code))
        return false;
    return decodeCode(tables, code, bits, last, out, out + count);
}

void undoPizWavelet(uint16_t* words, int width, int height, int wordsPerSample, uint16_t maxValue)
{
    const bool    form14 = maxValue < (1 << 14);
    const int64_t n = std::min(width, height);
    int64_t       p = 1;
    while (p <= n)
        p <<= 1;
    // From the coarsest level, whose blocks span the largest power of two within the smaller side, to the finest.
    for (p >>= 2; p >= 1; p >>= 1)
        undoLevel(form14, words, width, height, wordsPerSample, p);
}
