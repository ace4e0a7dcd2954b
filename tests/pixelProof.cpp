// Pixel proof of a rewritten frame: every kept sample equals its input sample, and only empty samples were cut.
//
//   pixelProof INPUT OUTPUT     prints "ok", or what is wrong and exits with 1
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfThreading.h>
#include <Imath/half.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Channel
{
    Imf::PixelType        type;
    Imath::Box2i          window;
    std::vector<uint32_t> bits; // one sample per element, half samples in the low 16 bits

    uint32_t at(int x, int y) const
    {
        return bits[size_t(y - window.min.y) * size_t(window.max.x - window.min.x + 1) + size_t(x - window.min.x)];
    }
    float value(int x, int y) const
    {
        uint32_t b = at(x, y);
        if (type == Imf::UINT)
            return float(b);
        if (type == Imf::HALF)
        {
            half h;
            h.setBits(uint16_t(b));
            return float(h);
        }
        float f;
        std::memcpy(&f, &b, 4);
        return f;
    }
};
using Part = std::map<std::string, Channel>;

std::vector<Part> readFile(const char* path)
{
    Imf::MultiPartInputFile file(path);
    std::vector<Part>       parts(size_t(file.parts()));
    for (int p = 0; p < file.parts(); ++p)
    {
        Imf::InputPart      input(file, p);
        const Imath::Box2i& w = input.header().dataWindow();
        size_t              width = size_t(w.max.x - w.min.x + 1);
        Imf::FrameBuffer    frameBuffer;
        for (auto it = input.header().channels().begin(); it != input.header().channels().end(); ++it)
        {
            Channel& c = parts[size_t(p)][it.name()];
            c.type = it.channel().type;
            c.window = w;
            c.bits.assign(width * size_t(w.max.y - w.min.y + 1), 0);
            // Every sample goes into a 32-bit cell; half samples fill its first two bytes (little-endian).
            char* origin = reinterpret_cast<char*>(c.bits.data()) - (size_t(w.min.y) * width + size_t(w.min.x)) * 4;
            frameBuffer.insert(it.name(), Imf::Slice(c.type, origin, 4, 4 * width));
        }
        input.setFrameBuffer(frameBuffer);
        input.readPixels(w.min.y, w.max.y);
    }
    return parts;
}

// The tool's emptiness rule: 0, NaN, infinities, and in a channel whose whole name is "Z" or "normals.Z" or ends in
// ".A", the channel's top-left sample.
bool isEmpty(const std::string& name, float value, float topLeft)
{
    if (value == 0.0f || std::isnan(value) || std::isinf(value))
        return true;
    bool background = name == "Z" || name == "normals.Z" ||
                      (name.size() >= 2 && name.compare(name.size() - 2, 2, ".A") == 0);
    return background && value == topLeft;
}

int fail(const std::string& text)
{
    std::printf("%s\n", text.c_str());
    return 1;
}

std::string where(const std::string& name, int x, int y)
{
    return "channel \"" + name + "\" at (" + std::to_string(x) + "," + std::to_string(y) + ")";
}

// Where an input channel went: the output part of the same index when it has the name, else the one part that has it.
int outputPartOf(const std::vector<Part>& output, size_t inputPart, const std::string& name)
{
    if (inputPart < output.size() && output[inputPart].count(name))
        return int(inputPart);
    int found = -1;
    for (size_t q = 0; q < output.size(); ++q)
        if (output[q].count(name))
            found = found < 0 ? int(q) : -2;
    return found;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return fail("usage: pixelProof INPUT OUTPUT");
    // The tool reads with four threads; a damaged tiled file can read differently with another count.
    Imf::setGlobalThreadCount(4);
    std::vector<Part> input, output;
    try
    {
        input = readFile(argv[1]);
        output = readFile(argv[2]);
    }
    catch (const std::exception& error)
    {
        return fail(std::string("cannot read: ") + error.what());
    }
    std::set<std::pair<int, std::string>> matched;
    for (size_t p = 0; p < input.size(); ++p)
        for (const auto& [name, in] : input[p])
        {
            int q = outputPartOf(output, p, name);
            if (q < 0)
                return fail("channel \"" + name + "\" is " + (q == -1 ? "missing from" : "in several parts of") +
                            " the output");
            if (!matched.insert({q, name}).second)
                return fail("channel \"" + name + "\" comes from two input parts");
            const Channel& out = output[size_t(q)].at(name);
            if (out.type != in.type)
                return fail("channel \"" + name + "\" changed its pixel type");
            const Imath::Box2i& kept = out.window;
            if (!in.window.intersects(kept.min) || !in.window.intersects(kept.max))
                return fail("channel \"" + name + "\": the output window reaches outside the input window");
            for (int y = kept.min.y; y <= kept.max.y; ++y)
                for (int x = kept.min.x; x <= kept.max.x; ++x)
                    if (out.at(x, y) != in.at(x, y))
                        return fail(where(name, x, y) + ": output sample differs from the input sample");
            float topLeft = in.value(in.window.min.x, in.window.min.y);
            for (int y = in.window.min.y; y <= in.window.max.y; ++y)
                for (int x = in.window.min.x; x <= in.window.max.x; ++x)
                    if (!kept.intersects(Imath::V2i(x, y)) && !isEmpty(name, in.value(x, y), topLeft))
                        return fail(where(name, x, y) + ": a sample that is not empty was cut away");
        }
    for (size_t q = 0; q < output.size(); ++q)
        for (const auto& channel : output[q])
            if (!matched.count({int(q), channel.first}))
                return fail("channel \"" + channel.first + "\" of output part " + std::to_string(q) +
                            " has no input channel");
    std::printf("ok\n");
    return 0;
}
