// ZIP's byte order, 16 bytes at a time where SSE2 is there.
#include "frame/zipByteOrder.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZQ_HAVE_SSE2 1
#endif

void splitEvenAndOdd(const uint8_t* bytes, size_t size, uint8_t* evens, uint8_t* odds)
{
    size_t i = 0;
#ifdef ZQ_HAVE_SSE2
    const __m128i low = _mm_set1_epi16(0x00ff);
    for (; i + 32 <= size; i += 32)
    {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(evens + i / 2),
                         _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(odds + i / 2),
                         _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
    }
#endif
    for (; i < size; i += 2)
    {
        evens[i / 2] = bytes[i];
        odds[i / 2] = bytes[i + 1];
    }
}

void predict(uint8_t* bytes, size_t size)
{
    // From the last byte down, so that every difference is taken from bytes not yet replaced.
    size_t end = size; // the bytes from end on are replaced
#ifdef ZQ_HAVE_SSE2
    const __m128i bias = _mm_set1_epi8(-128);
    for (; end >= 17; end -= 16)
    {
        __m128i current = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + end - 16));
        __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + end - 17));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + end - 16),
                         _mm_add_epi8(_mm_sub_epi8(current, before), bias));
    }
#endif
    for (; end > 1; --end)
        bytes[end - 1] = uint8_t(bytes[end - 1] - bytes[end - 2] + 128);
}

void undoPredict(uint8_t* bytes, size_t size)
{
    if (size == 0)
        return;
    size_t i = 1;
    uint8_t previous = bytes[0];
#ifdef ZQ_HAVE_SSE2
    const __m128i bias = _mm_set1_epi8(-128);
    __m128i       carry = _mm_set1_epi8(char(previous));
    for (; i + 16 <= size; i += 16)
    {
        // A running sum of the 16 differences, in four shifted additions, plus the byte before them.
        __m128i d = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), bias);
        d = _mm_add_epi8(d, _mm_slli_si128(d, 1));
        d = _mm_add_epi8(d, _mm_slli_si128(d, 2));
        d = _mm_add_epi8(d, _mm_slli_si128(d, 4));
        d = _mm_add_epi8(d, _mm_slli_si128(d, 8));
        d = _mm_add_epi8(d, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i), d);
        // The last byte, in every lane.
        __m128i last = _mm_srli_si128(d, 15);
        last = _mm_unpacklo_epi8(last, last);
        last = _mm_unpacklo_epi16(last, last);
        carry = _mm_shuffle_epi32(last, 0);
    }
    previous = bytes[i - 1];
#endif
    for (; i < size; ++i)
    {
        previous = uint8_t(previous + bytes[i] - 128);
        bytes[i] = previous;
    }
}

void interleave(uint8_t* out, const uint8_t* evens, const uint8_t* odds, size_t size)
{
    size_t i = 0;
#ifdef ZQ_HAVE_SSE2
    for (; i + 32 <= size; i += 32)
    {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(evens + i / 2));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(odds + i / 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 16), _mm_unpackhi_epi8(a, b));
    }
#endif
    for (; i < size; i += 2)
    {
        out[i] = evens[i / 2];
        out[i + 1] = odds[i / 2];
    }
}
