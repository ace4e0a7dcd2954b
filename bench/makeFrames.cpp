// Generates deterministic render-like OpenEXR sequences for the demo and the benchmark.
//
// makeFrames DIR NAME FIRST COUNT WIDTH HEIGHT VARIANT
//   VARIANT: crop      content in about 30 % of the frame, empty elsewhere
//            full      content over the whole frame (no crop gain)
//            farz      as crop, with a constant far-plane Z background
//            multipart as crop, one named part per layer
//            empty     every sample 0 (the crop search's worst case)
// Channels: R G B A diffuse.* specular.* emission.* (HALF), Z N.* P.* (FLOAT); ZIP compression.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfThreading.h>
#include <Imath/half.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Channel
{
    std::string    name;
    Imf::PixelType type;
};

std::vector<Channel> renderChannels()
{
    std::vector<Channel> channels;
    for (const char* name : {"R", "G", "B", "A"})
        channels.push_back({name, Imf::HALF});
    for (const char* layer : {"diffuse", "specular", "emission"})
        for (const char* c : {"R", "G", "B"})
            channels.push_back({std::string(layer) + "." + c, Imf::HALF});
    channels.push_back({"Z", Imf::FLOAT});
    for (const char* layer : {"N", "P"})
        for (const char* c : {"X", "Y", "Z"})
            channels.push_back({std::string(layer) + "." + c, Imf::FLOAT});
    return channels;
}

// Smooth value noise in [0, 1) from integer hashing, deterministic for a seed.
float hashUnit(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xffffff) / 16777216.0f;
}

float smoothNoise(float x, float y, uint32_t seed)
{
    int   ix = int(std::floor(x)), iy = int(std::floor(y));
    float fx = x - ix, fy = y - iy;
    float a = hashUnit(ix, iy, seed), b = hashUnit(ix + 1, iy, seed);
    float c = hashUnit(ix, iy + 1, seed), d = hashUnit(ix + 1, iy + 1, seed);
    float top = a + (b - a) * fx, bottom = c + (d - c) * fx;
    return top + (bottom - top) * fy;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 8)
    {
        std::fprintf(stderr, "usage: makeFrames DIR NAME FIRST COUNT WIDTH HEIGHT crop|full|farz|multipart|empty\n");
        return 2;
    }
    std::string dir = argv[1], name = argv[2], variant = argv[7];
    int         first = std::atoi(argv[3]), count = std::atoi(argv[4]);
    int         width = std::atoi(argv[5]), height = std::atoi(argv[6]);
    if (variant != "crop" && variant != "full" && variant != "farz" && variant != "multipart" &&
        variant != "empty")
    {
        std::fprintf(stderr, "makeFrames: unknown variant '%s'\n", variant.c_str());
        return 2;
    }
    Imf::setGlobalThreadCount(4);
    const std::vector<Channel> channels = renderChannels();
    const bool                 full = variant == "full";
    const bool                 empty = variant == "empty";
    const float                farZ = 1.0e10f;

    for (int frame = first; frame < first + count; ++frame)
    {
        // An ellipse that covers about 30 % of the frame (its bounding box about 55 % x 55 %), moving per frame.
        float cx = width * (0.45f + 0.01f * (frame % 10)), cy = height * 0.5f;
        float rx = width * 0.275f, ry = height * 0.275f;
        std::map<std::string, std::vector<char>> planes;
        for (const Channel& channel : channels)
            planes[channel.name].assign(size_t(width) * height * (channel.type == Imf::HALF ? 2 : 4), 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
            {
                float dx = (x - cx) / rx, dy = (y - cy) / ry;
                bool  inside = !empty && (full || dx * dx + dy * dy <= 1.0f);
                for (size_t c = 0; c < channels.size(); ++c)
                {
                    const Channel& channel = channels[c];
                    float value = 0.0f;
                    if (inside)
                        value = 0.05f + smoothNoise(x / 37.0f, y / 29.0f, uint32_t(c * 7 + frame)) +
                                0.02f * hashUnit(x, y, uint32_t(frame));
                    else if (channel.name == "Z" && variant == "farz")
                        value = farZ;
                    size_t at = size_t(y) * width + x;
                    if (channel.type == Imf::HALF)
                        reinterpret_cast<uint16_t*>(planes[channel.name].data())[at] = half(value).bits();
                    else
                        reinterpret_cast<float*>(planes[channel.name].data())[at] = value;
                }
            }

        // One part for all channels, or one named part per layer.
        std::map<std::string, std::vector<const Channel*>> layers;
        for (const Channel& channel : channels)
        {
            size_t dot = channel.name.rfind('.');
            std::string layer = variant == "multipart" ? (dot == std::string::npos ? "rgba" : channel.name.substr(0, dot))
                                                       : "all";
            layers[layer].push_back(&channel);
        }
        std::vector<Imf::Header>      headers;
        std::vector<Imf::FrameBuffer> frameBuffers;
        for (const auto& [layer, members] : layers)
        {
            Imf::Header header(width, height);
            header.compression() = Imf::ZIP_COMPRESSION;
            header.setType(Imf::SCANLINEIMAGE);
            if (variant == "multipart")
                header.setName(layer);
            Imf::FrameBuffer frameBuffer;
            for (const Channel* channel : members)
            {
                int bytes = channel->type == Imf::HALF ? 2 : 4;
                header.channels().insert(channel->name, Imf::Channel(channel->type));
                frameBuffer.insert(channel->name, Imf::Slice(channel->type, planes[channel->name].data(), bytes,
                                                             size_t(bytes) * width));
            }
            headers.push_back(header);
            frameBuffers.push_back(frameBuffer);
        }
        char fileName[64];
        std::snprintf(fileName, sizeof fileName, ".%04d.exr", frame);
        std::string path = dir + "/" + name + fileName;
        Imf::MultiPartOutputFile file(path.c_str(), headers.data(), int(headers.size()));
        for (size_t p = 0; p < headers.size(); ++p)
        {
            Imf::OutputPart part(file, int(p));
            part.setFrameBuffer(frameBuffers[p]);
            part.writePixels(height);
        }
    }
    return 0;
}
