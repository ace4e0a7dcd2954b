// The floor of a crop: only the work OpenEXR itself must do for each frame, for timing against the tool.
//
// floor OUTDIR IN x0 y0 x1 y1 [IN x0 y0 x1 y1 ...]
//   Reads every channel of every part of IN into a plane of its own pixel type, then writes the box (x0, y0)-(x1, y1)
//   (inclusive, data-window coordinates) as ZIPS scan-line parts to OUTDIR/<file name of IN>: one part per input part
//   for multi-part input, else one part per layer (the text before the last '.' of a channel name; R, G, B, A and
//   other names without a '.' share the unnamed layer). No crop search, no metadata, no temporary file.
//   Several frames are handled one after another in one process.
//
// Built twice: "floor" with the library as it comes (plain zlib, planes from new[]), and "floorRefined" with the
// same two changes the tool has (zlib calls served by libdeflate, planes of a huge page or more in transparent huge
// pages), so that both what the tool gains over the library and what it does on top of those changes are measured.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfThreading.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

struct Plane
{
    std::unique_ptr<char, FreeDeleter> bytes;
    size_t                             size = 0;
};

char* newPlane(size_t size)
{
#if defined(ZQ_REFINED_FLOOR)
    const size_t hugePage = size_t(2) << 20;
    if (size >= hugePage)
    {
        void*  block = nullptr;
        size_t rounded = (size + hugePage - 1) & ~(hugePage - 1);
        if (posix_memalign(&block, hugePage, rounded) != 0)
            throw std::bad_alloc();
        madvise(block, rounded, MADV_HUGEPAGE);
        return static_cast<char*>(block);
    }
#endif
    char* block = static_cast<char*>(std::malloc(size));
    if (!block)
        throw std::bad_alloc();
    return block;
}

// Planes are kept from one frame to the next: a sequence whose frames share a layout pays the kernel's zero-fill of
// fresh pages once, as a program that keeps its buffers would. The memory is never initialised here; the read
// writes every sample.
class PlaneStore
{
public:
    char* plane(size_t index, size_t size)
    {
        if (index >= m_planes.size())
            m_planes.resize(index + 1);
        Plane& plane = m_planes[index];
        if (plane.size != size)
        {
            plane.bytes.reset();
            plane.bytes.reset(newPlane(size));
            plane.size = size;
        }
        return plane.bytes.get();
    }

private:
    std::vector<Plane> m_planes;
};

size_t bytesOf(Imf::PixelType type)
{
    return type == Imf::HALF ? 2 : 4;
}

std::string fileNameOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string layerOf(const std::string& name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

// One output part: its name and the channels it takes, each with the slice into its plane.
struct OutputLayout
{
    std::string                                         name;
    std::vector<std::pair<std::string, Imf::Slice>>     slices;
    std::vector<std::pair<std::string, Imf::PixelType>> channels;
};

void cropFrame(const std::string& inPath, const std::string& outPath, const Imath::Box2i& box, PlaneStore& store)
{
    Imf::MultiPartInputFile input(inPath.c_str(), Imf::globalThreadCount());
    const Imf::Header&      first = input.header(0);
    std::vector<OutputLayout> layouts;
    std::map<std::string, size_t> layerPart;
    size_t                      planeIndex = 0;

    for (int p = 0; p < input.parts(); ++p)
    {
        const Imf::Header&  header = input.header(p);
        const Imath::Box2i& window = header.dataWindow();
        const size_t        width = size_t(window.max.x - window.min.x + 1);
        const size_t        height = size_t(window.max.y - window.min.y + 1);
        Imf::FrameBuffer    frameBuffer;
        for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
        {
            const Imf::PixelType type = it.channel().type;
            const size_t         bytes = bytesOf(type);
            char*                data = store.plane(planeIndex++, width * height * bytes);
            char*                origin = data - (ptrdiff_t(window.min.y) * ptrdiff_t(width) + window.min.x) * ptrdiff_t(bytes);
            Imf::Slice           slice(type, origin, bytes, bytes * width);
            frameBuffer.insert(it.name(), slice);

            size_t part = size_t(p);
            if (input.parts() == 1)
            {
                auto found = layerPart.emplace(layerOf(it.name()), layerPart.size()).first;
                part = found->second;
            }
            if (part >= layouts.size())
                layouts.resize(part + 1);
            layouts[part].slices.emplace_back(it.name(), slice);
            layouts[part].channels.emplace_back(it.name(), type);
            if (input.parts() > 1 && header.hasName())
                layouts[part].name = header.name();
        }
        Imf::InputPart part(input, p);
        part.setFrameBuffer(frameBuffer);
        part.readPixels(window.min.y, window.max.y);
    }

    std::vector<Imf::Header>      headers;
    std::vector<Imf::FrameBuffer> frameBuffers;
    for (size_t p = 0; p < layouts.size(); ++p)
    {
        Imf::Header header(first.displayWindow(), box, first.pixelAspectRatio(), Imath::V2f(0, 0),
                           first.screenWindowWidth(), Imf::INCREASING_Y, Imf::ZIPS_COMPRESSION);
        header.setName(layouts[p].name.empty() ? "part" + std::to_string(p) : layouts[p].name);
        header.setType(Imf::SCANLINEIMAGE);
        Imf::FrameBuffer frameBuffer;
        for (size_t c = 0; c < layouts[p].channels.size(); ++c)
        {
            header.channels().insert(layouts[p].channels[c].first, Imf::Channel(layouts[p].channels[c].second));
            frameBuffer.insert(layouts[p].slices[c].first, layouts[p].slices[c].second);
        }
        headers.push_back(header);
        frameBuffers.push_back(frameBuffer);
    }
    Imf::MultiPartOutputFile output(outPath.c_str(), headers.data(), int(headers.size()), false,
                                    Imf::globalThreadCount());
    for (size_t p = 0; p < headers.size(); ++p)
    {
        Imf::OutputPart part(output, int(p));
        part.setFrameBuffer(frameBuffers[p]);
        part.writePixels(box.max.y - box.min.y + 1);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 7 || (argc - 2) % 5 != 0)
    {
        std::fprintf(stderr, "usage: floor OUTDIR IN x0 y0 x1 y1 [IN x0 y0 x1 y1 ...]\n");
        return 2;
    }
#if defined(__GLIBC__)
    // zlib allocates and frees its compression state (about 270 KB) for every ZIPS block. Without a trim threshold
    // the freed heap top goes back to the kernel each time and is faulted in and zeroed again for the next block.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    Imf::setGlobalThreadCount(4);
    const std::string outDir = argv[1];
    PlaneStore        store;
    for (int a = 2; a < argc; a += 5)
    {
        const std::string inPath = argv[a];
        Imath::Box2i box(Imath::V2i(std::atoi(argv[a + 1]), std::atoi(argv[a + 2])),
                         Imath::V2i(std::atoi(argv[a + 3]), std::atoi(argv[a + 4])));
        try
        {
            cropFrame(inPath, outDir + "/" + fileNameOf(inPath), box, store);
        }
        catch (const std::exception& error)
        {
            std::fprintf(stderr, "floor: %s: %s\n", inPath.c_str(), error.what());
            return 1;
        }
    }
    return 0;
}
