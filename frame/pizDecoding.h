// PIZ's two codings of a chunk's 16-bit words, undone: the Huffman code the words are stored in, and the wavelet
// transform of each channel.
#pragma once

#include <cstddef>
#include <cstdint>

/// The code table of one Huffman-coded block and its lookup tables: scratch space of decodePizHuffman(), about 420 KB.
struct PizHuffmanTables
{
    static constexpr int kValues = 65537;    ///< every 16-bit value, and a run code above them
    static constexpr int kLongest = 58;      ///< the longest code
    static constexpr int kLookupBits = 14;   ///< codes of up to this many bits are found with one lookup

    uint8_t  lengths[kValues];               ///< each value's code length, 0 for a value without a code
    uint32_t values[kValues];                ///< the values with a code, by code length and then by value
    uint32_t lookup[1 << kLookupBits];       ///< by the next bits: value << 8 | length of a short code, else 0
    uint64_t firstCode[kLongest + 1];        ///< the code of each length's first value
    uint32_t codes[kLongest + 1];            ///< how many values have a code of each length
    uint32_t firstValue[kLongest + 1];       ///< where each length's values begin in values
};

/// Decodes count 16-bit words from a Huffman-coded block of the given bytes as PIZ stores it (a 20-byte leader, the
/// code lengths, the code) into out. False, with out partly written, where the block is damaged: too short, a code
/// table that is not a prefix code, bits that are no code, a run before the first word, or other than count words.
bool decodePizHuffman(const uint8_t* block, uint64_t bytes, uint16_t* out, uint64_t count, PizHuffmanTables& tables);

/// Undoes PIZ's wavelet transform in place on a channel of width x height samples stored line after line, each of
/// wordsPerSample 16-bit words (1 for HALF; 2 for FLOAT and UINT, each word transformed on its own); maxValue, the
/// chunk's largest word before the transform, chooses its 14-bit or its 16-bit form.
void undoPizWavelet(uint16_t* words, int width, int height, int wordsPerSample, uint16_t maxValue);
