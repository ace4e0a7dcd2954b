// Writes the small OpenEXR files of the fuzzing seed corpus: makeSeeds DIR
#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputFile.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfMultiView.h>
#include <ImfOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <ImfTiledOutputFile.h>
#include <ImfTiledOutputPart.h>
#include <Imath/half.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ChannelSpec
{
    std::string    name;
    Imf::PixelType type = Imf::HALF;
    int            sampling = 1;
};

struct PartSpec
{
    std::string              name;
    std::string              view;
    std::vector<ChannelSpec> channels;
    Imath::Box2i             dataWindow{Imath::V2i(0, 0), Imath::V2i(31, 23)};
    Imath::Box2i             displayWindow{Imath::V2i(0, 0), Imath::V2i(31, 23)};
    Imf::Compression         compression = Imf::ZIP_COMPRESSION;
    bool                     tiled = false;
    Imf::LevelMode           levels = Imf::ONE_LEVEL;
    std::string              multiView; // comma-separated views for a single-part stereo file
};

// Content in a box away from the edges, so there is something to crop.
float sample(int x, int y, size_t channel)
{
    if (x < 6 || x > 21 || y < 5 || y > 17)
        return 0.0f;
    return float((x * 7 + y * 13 + int(channel) * 3) % 17) / 8.0f;
}

Imf::Header makeHeader(const PartSpec& spec)
{
    Imf::Header header(spec.displayWindow, spec.dataWindow, 1.0f, Imath::V2f(0, 0), 1.0f, Imf::INCREASING_Y,
                       spec.compression);
    for (const ChannelSpec& c : spec.channels)
        header.channels().insert(c.name, Imf::Channel(c.type, c.sampling, c.sampling));
    if (spec.tiled)
        header.setTileDescription(Imf::TileDescription(8, 8, spec.levels));
    if (!spec.view.empty())
        header.setView(spec.view);
    if (!spec.multiView.empty())
    {
        Imf::StringVector views;
        for (size_t at = 0; at <= spec.multiView.size();)
        {
            size_t comma = spec.multiView.find(',', at);
            if (comma == std::string::npos)
                comma = spec.multiView.size();
            views.push_back(spec.multiView.substr(at, comma - at));
            at = comma + 1;
        }
        Imf::addMultiView(header, views);
    }
    header.insert("comments", Imf::StringAttribute("fuzz seed"));
    return header;
}

// Pixel storage for one part, laid out over its data window.
struct Pixels
{
    std::vector<std::vector<char>> planes;
    Imf::FrameBuffer               frameBuffer;

    explicit Pixels(const PartSpec& spec)
    {
        const Imath::Box2i& w = spec.dataWindow;
        int                 width = w.max.x - w.min.x + 1, height = w.max.y - w.min.y + 1;
        planes.resize(spec.channels.size());
        for (size_t c = 0; c < spec.channels.size(); ++c)
        {
            const ChannelSpec& channel = spec.channels[c];
            int                bytes = channel.type == Imf::HALF ? 2 : 4;
            planes[c].assign(size_t(width) * height * bytes, 0);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                {
                    float v = sample(w.min.x + x, w.min.y + y, c);
                    char* at = &planes[c][(size_t(y) * width + x) * bytes];
                    if (channel.type == Imf::HALF)
                    {
                        uint16_t bits = half(v).bits();
                        std::memcpy(at, &bits, 2);
                    }
                    else if (channel.type == Imf::FLOAT)
                        std::memcpy(at, &v, 4);
                    else
                    {
                        uint32_t u = uint32_t(v * 8);
                        std::memcpy(at, &u, 4);
                    }
                }
            char* origin = planes[c].data() - (ptrdiff_t(w.min.y) * width + w.min.x) * bytes;
            frameBuffer.insert(channel.name, Imf::Slice(channel.type, origin, size_t(bytes), size_t(width) * bytes,
                                                        channel.sampling, channel.sampling));
        }
    }
};

std::vector<ChannelSpec> rgba()
{
    return {{"R"}, {"G"}, {"B"}, {"A"}};
}

std::vector<ChannelSpec> renderLayers()
{
    return {{"R"}, {"G"}, {"B"}, {"A"}, {"diffuse.R"}, {"diffuse.G"}, {"diffuse.B"}, {"Z", Imf::FLOAT},
            {"N.X", Imf::FLOAT}, {"id", Imf::UINT}};
}

void writeSingle(const std::string& path, const PartSpec& spec)
{
    Imf::Header header = makeHeader(spec);
    Pixels      pixels(spec);
    const Imath::Box2i& w = spec.dataWindow;
    if (spec.tiled)
    {
        Imf::TiledOutputFile file(path.c_str(), header);
        file.setFrameBuffer(pixels.frameBuffer);
        file.writeTiles(0, file.numXTiles(0) - 1, 0, file.numYTiles(0) - 1, 0);
        for (int level = 1; level < file.numLevels(); ++level)
            if (spec.levels == Imf::MIPMAP_LEVELS)
                file.writeTiles(0, file.numXTiles(level) - 1, 0, file.numYTiles(level) - 1, level); // zeros are fine
        return;
    }
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(pixels.frameBuffer);
    file.writePixels(w.max.y - w.min.y + 1);
}

void writeMulti(const std::string& path, const std::vector<PartSpec>& specs)
{
    std::vector<Imf::Header> headers;
    for (const PartSpec& spec : specs)
    {
        headers.push_back(makeHeader(spec));
        headers.back().setName(spec.name);
        headers.back().setType(spec.tiled ? Imf::TILEDIMAGE : Imf::SCANLINEIMAGE);
    }
    Imf::MultiPartOutputFile file(path.c_str(), headers.data(), int(headers.size()));
    for (size_t i = 0; i < specs.size(); ++i)
    {
        Pixels pixels(specs[i]);
        if (specs[i].tiled)
        {
            Imf::TiledOutputPart part(file, int(i));
            part.setFrameBuffer(pixels.frameBuffer);
            part.writeTiles(0, part.numXTiles(0) - 1, 0, part.numYTiles(0) - 1, 0);
        }
        else
        {
            Imf::OutputPart part(file, int(i));
            part.setFrameBuffer(pixels.frameBuffer);
            part.writePixels(specs[i].dataWindow.max.y - specs[i].dataWindow.min.y + 1);
        }
    }
}

void writeDeep(const std::string& path)
{
    const int   width = 16, height = 12;
    Imf::Header header(width, height);
    header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
    header.channels().insert("A", Imf::Channel(Imf::HALF));
    header.setType(Imf::DEEPSCANLINE);
    header.compression() = Imf::ZIPS_COMPRESSION;
    std::vector<unsigned> counts(width * height);
    std::vector<float>    depth(width * height * 2);
    std::vector<half>     alpha(width * height * 2);
    std::vector<float*>   depthPointers(width * height);
    std::vector<half*>    alphaPointers(width * height);
    for (int i = 0; i < width * height; ++i)
    {
        counts[i] = unsigned(i % 3 == 0 ? 0 : i % 3);
        depth[2 * i] = float(i);
        depth[2 * i + 1] = float(i) + 0.5f;
        alpha[2 * i] = alpha[2 * i + 1] = half(0.5f);
        depthPointers[i] = &depth[2 * i];
        alphaPointers[i] = &alpha[2 * i];
    }
    Imf::DeepFrameBuffer frameBuffer;
    frameBuffer.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data()),
                                                  sizeof(unsigned), sizeof(unsigned) * width));
    frameBuffer.insert("Z", Imf::DeepSlice(Imf::FLOAT, reinterpret_cast<char*>(depthPointers.data()),
                                           sizeof(float*), sizeof(float*) * width, sizeof(float)));
    frameBuffer.insert("A", Imf::DeepSlice(Imf::HALF, reinterpret_cast<char*>(alphaPointers.data()), sizeof(half*),
                                           sizeof(half*) * width, sizeof(half)));
    Imf::DeepScanLineOutputFile file(path.c_str(), header);
    file.setFrameBuffer(frameBuffer);
    file.writePixels(height);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: makeSeeds DIR\n");
        return 2;
    }
    std::string dir = std::string(argv[1]) + "/";
    PartSpec    plain{"", "", rgba()};
    plain.compression = Imf::NO_COMPRESSION;
    writeSingle(dir + "scanline_none.exr", plain);

    PartSpec layers{"", "", renderLayers()};
    layers.compression = Imf::ZIPS_COMPRESSION;
    writeSingle(dir + "layers_zips.exr", layers);

    for (auto [name, compression] : {std::pair{"rle", Imf::RLE_COMPRESSION}, {"piz", Imf::PIZ_COMPRESSION},
                                     {"pxr24", Imf::PXR24_COMPRESSION}, {"b44", Imf::B44_COMPRESSION},
                                     {"dwaa", Imf::DWAA_COMPRESSION}})
    {
        PartSpec part{"", "", rgba()};
        part.compression = compression;
        writeSingle(dir + "scanline_" + name + ".exr", part);
    }

    PartSpec offset{"", "", rgba()};
    offset.dataWindow = Imath::Box2i(Imath::V2i(-3, -2), Imath::V2i(27, 20));
    writeSingle(dir + "negative_origin.exr", offset);

    PartSpec luma{"", "", {{"Y"}, {"RY", Imf::HALF, 2}, {"BY", Imf::HALF, 2}}};
    writeSingle(dir + "subsampled_yc.exr", luma);

    PartSpec tiled{"", "", rgba()};
    tiled.tiled = true;
    tiled.compression = Imf::RLE_COMPRESSION;
    writeSingle(dir + "tiled_one_level.exr", tiled);
    tiled.levels = Imf::MIPMAP_LEVELS;
    writeSingle(dir + "tiled_mipmap.exr", tiled);

    PartSpec stereo{"", "", {{"R"}, {"G"}, {"B"}, {"right.R"}, {"right.G"}, {"right.B"}}};
    stereo.multiView = "left,right";
    writeSingle(dir + "multiview_single.exr", stereo);

    PartSpec beauty{"beauty", "", rgba()};
    PartSpec depth{"depth", "", {{"Z", Imf::FLOAT}}};
    depth.dataWindow = Imath::Box2i(Imath::V2i(2, 1), Imath::V2i(29, 22));
    writeMulti(dir + "multipart_scanline.exr", {beauty, depth});

    PartSpec left{"rgba.left", "left", rgba()};
    PartSpec right{"rgba.right", "right", rgba()};
    right.compression = Imf::PIZ_COMPRESSION;
    writeMulti(dir + "multipart_views.exr", {left, right});

    PartSpec tiledPart{"tiles", "", rgba()};
    tiledPart.tiled = true;
    writeMulti(dir + "multipart_tiled.exr", {beauty, tiledPart});

    PartSpec shifted{"shifted", "", rgba()};
    shifted.dataWindow = Imath::Box2i(Imath::V2i(1, 1), Imath::V2i(32, 24)); // same size, shifted
    writeMulti(dir + "multipart_shifted_part.exr", {beauty, shifted});

    PartSpec crypto{"", "", rgba()};
    crypto.channels.push_back({"CryptoObject00.R", Imf::FLOAT});
    crypto.channels.push_back({"CryptoObject00.G", Imf::FLOAT});
    writeSingle(dir + "cryptomatte_single.exr", crypto);

    writeDeep(dir + "deep_scanline.exr");
    return 0;
}
