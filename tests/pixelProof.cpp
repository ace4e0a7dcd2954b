// Pixel proof of a rewritten frame: every kept sample equals its input sample, only empty samples were cut, and the
// file is byte for byte what the library itself writes for its headers and samples.
//
//   pixelProof INPUT OUTPUT     prints "ok", or what is wrong and exits with 1
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfIO.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfThreading.h>
#include <Imath/half.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// One channel of a part, with the samples of the rows read last.
struct Channel
{
    Imf::PixelType        type;
    Imath::Box2i          window; // the part's data window
    int                   top = 0; // the first row held
    std::vector<uint32_t> bits;    // one sample per element, half samples in the low 16 bits

    uint32_t at(int x, int y) const
    {
        return bits[size_t(y - top) * size_t(window.max.x - window.min.x + 1) + size_t(x - window.min.x)];
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

// The parts' channels and windows, no samples yet.
std::vector<Part> describe(Imf::MultiPartInputFile& file)
{
    std::vector<Part> parts(size_t(file.parts()));
    for (int p = 0; p < file.parts(); ++p)
        for (auto it = file.header(p).channels().begin(); it != file.header(p).channels().end(); ++it)
            parts[size_t(p)][it.name()] = Channel{it.channel().type, file.header(p).dataWindow(), 0, {}};
    return parts;
}

// A frame buffer over the rows that the named channels of a part hold (every channel when names is empty).
Imf::FrameBuffer heldRows(Part& part, const std::set<std::string>& names)
{
    Imf::FrameBuffer frameBuffer;
    for (auto& [name, c] : part)
        if (names.empty() || names.count(name))
        {
            // Every sample goes into a 32-bit cell; half samples fill its first two bytes (little-endian).
            int64_t width = int64_t(c.window.max.x) - c.window.min.x + 1;
            char*   origin = reinterpret_cast<char*>(c.bits.data()) - (int64_t(c.top) * width + c.window.min.x) * 4;
            frameBuffer.insert(name, Imf::Slice(c.type, origin, 4, size_t(4 * width)));
        }
    return frameBuffer;
}

// Reads rows top to bottom of the named channels of a part (every channel when names is empty).
void readRows(Imf::MultiPartInputFile& file, int p, Part& part, int top, int bottom, const std::set<std::string>& names)
{
    for (auto& [name, c] : part)
        if (names.empty() || names.count(name))
        {
            c.top = top;
            c.bits.assign(size_t((int64_t(c.window.max.x) - c.window.min.x + 1) * (int64_t(bottom) - top + 1)), 0);
        }
    Imf::InputPart input(file, p);
    input.setFrameBuffer(heldRows(part, names));
    input.readPixels(top, bottom);
}

// Rows of at most about 16 Mi cells of the part, so that a frame of any size can be proven.
int64_t rowsPerBand(const Part& part)
{
    const Imath::Box2i& w = part.begin()->second.window;
    return std::max<int64_t>(1, (int64_t(16) << 20) / ((int64_t(w.max.x) - w.min.x + 1) * int64_t(part.size())));
}

// An output stream that keeps nothing but compares every write with the file's bytes at the same place; a later write
// over the same bytes (the chunk tables, written empty first) counts instead.
class ComparingOStream : public Imf::OStream
{
public:
    explicit ComparingOStream(const char* path) : Imf::OStream(path), m_file(std::fopen(path, "rb")) {}
    ~ComparingOStream() override
    {
        if (m_file)
            std::fclose(m_file);
    }
    void write(const char c[], int n) override
    {
        if (n <= 0)
            return;
        std::vector<char> held(size_t(n), 0);
        bool same = m_file && fseeko(m_file, off_t(m_position), SEEK_SET) == 0 &&
                    std::fread(held.data(), 1, size_t(n), m_file) == size_t(n) &&
                    std::memcmp(held.data(), c, size_t(n)) == 0;
        const uint64_t end = m_position + uint64_t(n);
        for (auto it = m_differing.begin(); it != m_differing.end();)
            it = it->first < end && it->second > m_position ? m_differing.erase(it) : std::next(it);
        if (!same)
            m_differing[m_position] = end;
        m_position = end;
        m_end = std::max(m_end, m_position);
    }
    uint64_t tellp() override { return m_position; }
    void     seekp(uint64_t position) override { m_position = position; }
    /// The first byte where the file differs from what was written, or -1.
    int64_t difference()
    {
        if (!m_file || fseeko(m_file, 0, SEEK_END) != 0 || uint64_t(ftello(m_file)) != m_end)
            return m_differing.empty() ? int64_t(m_end) : int64_t(m_differing.begin()->first);
        return m_differing.empty() ? -1 : int64_t(m_differing.begin()->first);
    }

private:
    FILE*    m_file;
    uint64_t m_position = 0, m_end = 0;
    std::map<uint64_t, uint64_t> m_differing; // the writes that differ: start, end
};

// Writes the file's headers and samples again with the library, comparing each byte with the file's; the first byte
// that differs, or -1.
int64_t firstByteNotTheLibrarys(Imf::MultiPartInputFile& file, const char* path, std::vector<Part>& parts)
{
    ComparingOStream         stream(path);
    std::vector<Imf::Header> headers;
    for (int p = 0; p < file.parts(); ++p)
        headers.push_back(file.header(p));
    {
        Imf::MultiPartOutputFile written(stream, headers.data(), int(headers.size()));
        for (size_t p = 0; p < parts.size(); ++p)
        {
            Imf::OutputPart     out(written, int(p));
            const Imath::Box2i& w = headers[p].dataWindow();
            const int64_t       rows = rowsPerBand(parts[p]);
            for (int64_t top = w.min.y; top <= w.max.y; top += rows)
            {
                int bottom = int(std::min<int64_t>(w.max.y, top + rows - 1));
                readRows(file, int(p), parts[p], int(top), bottom, {});
                out.setFrameBuffer(heldRows(parts[p], {}));
                out.writePixels(bottom - int(top) + 1);
            }
        }
    }
    return stream.difference();
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
    try
    {
        Imf::MultiPartInputFile inputFile(argv[1]), outputFile(argv[2]);
        std::vector<Part>       input = describe(inputFile), output = describe(outputFile);
        // Where each input channel went: its output part, and per input part the channels to read of each output part.
        std::set<std::pair<int, std::string>>             matched;
        std::vector<std::map<int, std::set<std::string>>> routes(input.size());
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
                if (!in.window.intersects(out.window.min) || !in.window.intersects(out.window.max))
                    return fail("channel \"" + name + "\": the output window reaches outside the input window");
                routes[p][q].insert(name);
            }
        for (size_t q = 0; q < output.size(); ++q)
            for (const auto& channel : output[q])
                if (!matched.count({int(q), channel.first}))
                    return fail("channel \"" + channel.first + "\" of output part " + std::to_string(q) +
                                " has no input channel");
        // The samples, in bands of rows.
        for (size_t p = 0; p < input.size(); ++p)
        {
            if (input[p].empty())
                continue;
            const Imath::Box2i&          w = input[p].begin()->second.window;
            const int64_t                rows = rowsPerBand(input[p]);
            std::map<std::string, float> topLeft;
            for (int64_t top = w.min.y; top <= w.max.y; top += rows)
            {
                int bottom = int(std::min<int64_t>(w.max.y, top + rows - 1));
                readRows(inputFile, int(p), input[p], int(top), bottom, {});
                for (const auto& [q, names] : routes[p])
                {
                    const Imath::Box2i& kept = output[size_t(q)].at(*names.begin()).window;
                    if (kept.min.y <= bottom && kept.max.y >= top)
                        readRows(outputFile, q, output[size_t(q)], std::max(int(top), kept.min.y),
                                 std::min(bottom, kept.max.y), names);
                }
                for (const auto& [name, in] : input[p])
                {
                    const Channel&      out = output[size_t(outputPartOf(output, p, name))].at(name);
                    const Imath::Box2i& kept = out.window;
                    if (top == w.min.y)
                        topLeft[name] = in.value(w.min.x, w.min.y);
                    float corner = topLeft[name];
                    for (int y = int(top); y <= bottom; ++y)
                        for (int x = w.min.x; x <= w.max.x; ++x)
                        {
                            if (kept.intersects(Imath::V2i(x, y)))
                            {
                                if (out.at(x, y) != in.at(x, y))
                                    return fail(where(name, x, y) + ": output sample differs from the input sample");
                            }
                            else if (!isEmpty(name, in.value(x, y), corner))
                                return fail(where(name, x, y) + ": a sample that is not empty was cut away");
                        }
                }
            }
        }
    }
    catch (const std::exception& error)
    {
        return fail(std::string("cannot read: ") + error.what());
    }
    try
    {
        Imf::MultiPartInputFile outputFile(argv[2]);
        std::vector<Part>       output = describe(outputFile);
        int64_t                 at = firstByteNotTheLibrarys(outputFile, argv[2], output);
        if (at >= 0)
            return fail("the output differs from the library's own write of its headers and samples from byte " +
                        std::to_string(at));
    }
    catch (const std::exception& error)
    {
        return fail(std::string("cannot write again: ") + error.what());
    }
    std::printf("ok\n");
    return 0;
}
