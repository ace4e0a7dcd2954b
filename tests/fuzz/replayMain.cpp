// Replays fuzzing inputs through a fuzz target where libFuzzer is absent: every file named, and every file in every
// folder named, once each in name order.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i)
    {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path))
            for (const auto& entry : std::filesystem::directory_iterator(path))
                inputs.push_back(entry.path());
        else
            inputs.push_back(path);
    }
    std::sort(inputs.begin(), inputs.end());
    for (const std::filesystem::path& input : inputs)
    {
        std::ifstream     in(input, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && !in.good())
        {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
