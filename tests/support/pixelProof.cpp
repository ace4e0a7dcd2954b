// Pixel proof for rewritten frames: the output holds the input's samples, and only empty pixels were cut away.
#include "support/pixelProof.h"

#include "support/exrFixtures.h"

#include <cmath>
#include <exception>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace zqtest {

namespace {

struct PartSamples
{
    Imath::Box2i                         window;
    std::map<std::string, ChannelPixels> channels;
};

std::vector<PartSamples> readAllParts(const std::string& path)
{
    std::vector<PartSamples> parts(size_t(partCount(path)));
    for (size_t p = 0; p < parts.size(); ++p)
    {
        parts[p].window = readHeader(path, int(p)).dataWindow();
        parts[p].channels = readPart(path, int(p));
    }
    return parts;
}

std::string sampleText(const ChannelPixels& channel, int x, int y)
{
    std::ostringstream text;
    text << channel.at(x, y) << " (bits 0x" << std::hex << channel.bitsAt(x, y) << ")";
    return text.str();
}

std::string boxText(const Imath::Box2i& b)
{
    std::ostringstream text;
    text << "(" << b.min.x << "," << b.min.y << ")-(" << b.max.x << "," << b.max.y << ")";
    return text.str();
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Where an input channel went: the output part of the same index when it has the name, else the only part that has it.
int findOutputPart(const std::vector<PartSamples>& output, size_t inputPart, const std::string& name, std::string& why)
{
    if (inputPart < output.size() && output[inputPart].channels.count(name))
        return int(inputPart);
    int found = -1;
    for (size_t q = 0; q < output.size(); ++q)
        if (output[q].channels.count(name))
        {
            if (found >= 0)
            {
                why = "is in several output parts";
                return -1;
            }
            found = int(q);
        }
    if (found < 0)
        why = "is missing from the output";
    return found;
}

// The crop's rule: 0, NaN and infinities are empty, and in a channel whose name (as the tool holds it, cut to 150
// characters) is "Z" or "normals.Z" or ends in ".A", so is the channel's top-left sample.
bool isEmptySample(const std::string& channelName, float value, float topLeft)
{
    if (value == 0.0f || std::isnan(value) || std::isinf(value))
        return true;
    std::string held = channelName.substr(0, 150);
    bool        background = held == "Z" || held == "normals.Z" || endsWith(held, ".A");
    return background && value == topLeft;
}

} // namespace

::testing::AssertionResult outputHoldsInputPixels(const std::string& inputPath, const std::string& outputPath)
{
    std::vector<PartSamples> input, output;
    try
    {
        input = readAllParts(inputPath);
        output = readAllParts(outputPath);
    }
    catch (const std::exception& error)
    {
        return ::testing::AssertionFailure() << "cannot read the files: " << error.what();
    }

    std::set<std::pair<int, std::string>> matched;
    for (size_t p = 0; p < input.size(); ++p)
        for (const auto& [name, in] : input[p].channels)
        {
            std::string where = "channel \"" + name + "\" of input part " + std::to_string(p);
            std::string why;
            int         q = findOutputPart(output, p, name, why);
            if (q < 0)
                return ::testing::AssertionFailure() << where << " " << why;
            if (!matched.insert({q, name}).second)
                return ::testing::AssertionFailure()
                       << where << " lands in output part " << q << ", which another input part's channel filled";
            const ChannelPixels& out = output[size_t(q)].channels.at(name);
            const Imath::Box2i&  kept = output[size_t(q)].window;
            where += " (output part " + std::to_string(q) + ")";
            if (out.type != in.type)
                return ::testing::AssertionFailure()
                       << where << " has pixel type " << int(out.type) << " instead of " << int(in.type);
            if (!in.window.intersects(kept.min) || !in.window.intersects(kept.max))
                return ::testing::AssertionFailure() << where << ": output data window " << boxText(kept)
                                                     << " reaches outside the input data window "
                                                     << boxText(in.window);
            for (int y = kept.min.y; y <= kept.max.y; ++y)
                for (int x = kept.min.x; x <= kept.max.x; ++x)
                    if (out.bitsAt(x, y) != in.bitsAt(x, y))
                        return ::testing::AssertionFailure()
                               << where << ": output sample at (" << x << "," << y << ") is " << sampleText(out, x, y)
                               << ", input has " << sampleText(in, x, y);
            float topLeft = in.at(in.window.min.x, in.window.min.y);
            for (int y = in.window.min.y; y <= in.window.max.y; ++y)
                for (int x = in.window.min.x; x <= in.window.max.x; ++x)
                    if (!kept.intersects(Imath::V2i(x, y)) && !isEmptySample(name, in.at(x, y), topLeft))
                        return ::testing::AssertionFailure()
                               << where << ": input sample at (" << x << "," << y << ") is " << sampleText(in, x, y)
                               << ", not empty, but lies outside the output data window " << boxText(kept);
        }
    for (size_t q = 0; q < output.size(); ++q)
        for (const auto& channel : output[q].channels)
            if (!matched.count({int(q), channel.first}))
                return ::testing::AssertionFailure()
                       << "channel \"" << channel.first << "\" of output part " << q << " has no input channel";
    return ::testing::AssertionSuccess() << "every sample of " << outputPath << " proven";
}

} // namespace zqtest
