// PIZ's decoding against the library's own coding: words Huffman-coded by the library come back whole, and any
// shortened block is refused; channels the library's wavelet transform coded come back whole in both of its forms, at
// sizes around the vector width.
#include "frame/pizDecoding.h"

#include <ImfHuf.h>
#include <ImfWav.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

TEST(PizDecoding, HuffmanCodeOfTheLibraryComesBackAndShortBlocksAreRefused)
{
    std::mt19937                      random(3);
    auto                              tables = std::make_unique<PizHuffmanTables>();
    std::vector<std::vector<uint16_t>> inputs = {{}, {7}, {65535, 65535, 0}, std::vector<uint16_t>(5000, 42)};
    for (int spread : {2, 40, 4000, 65536})
    {
        // Mostly small words with runs of one word, as a wavelet-transformed channel is, up to the widest spread.
        std::vector<uint16_t> words(20000);
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = random() % 4 == 0 && i > 0 ? words[i - 1] : uint16_t(std::min<uint32_t>(
                                                                         random() % spread * (random() % 3), 65535));
        inputs.push_back(words);
    }
    // Word k as often as the k-th Fibonacci number, shuffled: codes of up to 25 bits, most beyond a lookup.
    std::vector<uint16_t> fibonacci;
    for (uint32_t k = 0, a = 1, b = 1; k < 25; ++k, b += a, a = b - a)
        fibonacci.insert(fibonacci.end(), a, uint16_t(k * 1000));
    std::shuffle(fibonacci.begin(), fibonacci.end(), random);
    inputs.push_back(fibonacci);
    for (const std::vector<uint16_t>& words : inputs)
    {
        std::vector<char> coded(words.size() * 8 + 65536 + 64);
        const int bytes = Imf::hufCompress(words.data(), int(words.size()), coded.data());
        std::vector<uint16_t> out(words.size() + 1, 0xbeef);
        const uint8_t* block = reinterpret_cast<const uint8_t*>(coded.data());
        ASSERT_TRUE(decodePizHuffman(block, uint64_t(bytes), out.data(), words.size(), *tables)) << words.size();
        EXPECT_EQ(std::vector<uint16_t>(out.begin(), out.end() - 1), words);
        EXPECT_EQ(out.back(), 0xbeef) << "written past the count";
        // Fewer words than coded, and every shortened block (each copied to a buffer of its size, so that a read
        // past it shows under AddressSanitizer).
        if (!words.empty())
            EXPECT_FALSE(decodePizHuffman(block, uint64_t(bytes), out.data(), words.size() - 1, *tables));
        for (int shortBy : {1, 2, 7, bytes / 2, bytes - 21})
            if (shortBy > 0 && shortBy <= bytes && !words.empty())
            {
                std::vector<uint8_t> shortened(block, block + bytes - shortBy);
                EXPECT_FALSE(decodePizHuffman(shortened.data(), shortened.size(), out.data(), words.size(), *tables))
                    << words.size() << " words, " << shortBy << " bytes short";
            }
    }
    // Code lengths that make no prefix code, and the 1 bit of value 1: values 0 and 1 of 1 bit and the run code 2 of 2
    // bits (one code under another), or of 1 bit too (more codes than 1 bit has).
    for (uint8_t runCode : {0x80, 0x40})
    {
        const uint8_t block[] = {0, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x10, runCode, 0x80};
        uint16_t      word = 0;
        EXPECT_FALSE(decodePizHuffman(block, sizeof block, &word, 1, *tables)) << int(runCode);
    }
}

TEST(PizDecoding, WaveletOfTheLibraryComesBackInBothForms)
{
    std::mt19937 random(5);
    for (int wordsPerSample : {1, 2})
        for (uint16_t maxValue : {uint16_t(1000), uint16_t(16383), uint16_t(65535)})
            for (auto [width, height] : std::vector<std::pair<int, int>>{
                     {1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 5}, {17, 9}, {16, 2}, {33, 32}, {64, 3}, {100, 37}, {9, 100}})
            {
                std::vector<uint16_t> words(size_t(width) * size_t(height) * size_t(wordsPerSample));
                for (uint16_t& word : words)
                    word = uint16_t(random() % (uint32_t(maxValue) + 1));
                std::vector<uint16_t> coded = words;
                for (int j = 0; j < wordsPerSample; ++j)
                    Imf::wav2Encode(coded.data() + j, width, wordsPerSample, height, width * wordsPerSample, maxValue);
                undoPizWavelet(coded.data(), width, height, wordsPerSample, maxValue);
                EXPECT_EQ(coded, words) << width << " x " << height << ", " << wordsPerSample << " words, max "
                                        << maxValue;
            }
}
