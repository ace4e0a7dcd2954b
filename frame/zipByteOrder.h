// ZIP's byte order: how ZIP and ZIPS arrange a chunk's bytes before zlib compresses them, and back. The bytes are
// split into the even and the odd ones, one half after the other, and each byte after the first is replaced by its
// difference from the byte before it, plus 128.
#pragma once

#include <cstddef>
#include <cstdint>

/// Splits size bytes (an even number) into their even bytes at evens and their odd bytes at odds.
void splitEvenAndOdd(const uint8_t* bytes, size_t size, uint8_t* evens, uint8_t* odds);
/// Writes size bytes (an even number) taking turns from evens and odds: evens[0], odds[0], evens[1], ...
void interleave(uint8_t* out, const uint8_t* evens, const uint8_t* odds, size_t size);
/// Replaces each byte after the first by its difference from the byte before it, plus 128.
void predict(uint8_t* bytes, size_t size);
/// Undoes predict(): each byte after the first becomes the byte before it plus its difference, less 128.
void undoPredict(uint8_t* bytes, size_t size);
