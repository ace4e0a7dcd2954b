// Times the crop search on one frame held in memory the way the tool holds it.
//
// cropSearch IN [REPETITIONS]
//   Reads every channel of every part of IN into channel buffers (one plane of its own type per channel, as the tool
//   allocates them), runs findCropWindow REPETITIONS times (default 31) over all of them and prints
//   "median SECONDS window minX minY maxX maxY".
#include "frame/ChannelBuffer.h"
#include "frame/findCropWindow.h"

#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfThreading.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc < 2 || argc > 3)
    {
        std::fprintf(stderr, "usage: cropSearch IN [REPETITIONS]\n");
        return 2;
    }
    const int repetitions = argc == 3 ? std::max(1, std::atoi(argv[2])) : 31;
    Imf::setGlobalThreadCount(4);
    try
    {
        Imf::MultiPartInputFile input(argv[1], Imf::globalThreadCount());
        const Imath::Box2i      window = input.header(0).dataWindow();
        const int32_t           width = window.max.x - window.min.x + 1;
        const int32_t           height = window.max.y - window.min.y + 1;

        size_t count = 0;
        for (int p = 0; p < input.parts(); ++p)
            for (Imf::ChannelList::ConstIterator it = input.header(p).channels().begin();
                 it != input.header(p).channels().end(); ++it)
                ++count;
        std::vector<ChannelBuffer> buffers(count);
        size_t                     k = 0;
        for (int p = 0; p < input.parts(); ++p)
        {
            const Imf::Header& header = input.header(p);
            if (header.dataWindow() != window)
            {
                std::fprintf(stderr, "cropSearch: parts of different sizes\n");
                return 1;
            }
            Imf::FrameBuffer frameBuffer;
            for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end();
                 ++it, ++k)
            {
                ChannelBuffer& buffer = buffers[k];
                buffer.name = it.name();
                buffer.type = it.channel().type;
                if (!allocatePlane(buffer, width, height))
                {
                    std::fprintf(stderr, "cropSearch: no plane for %s\n", it.name());
                    return 1;
                }
                frameBuffer.insert(it.name(), planeSlice(buffer.type, buffer.plane.get(), window));
            }
            Imf::InputPart part(input, p);
            part.setFrameBuffer(frameBuffer);
            part.readPixels(window.min.y, window.max.y);
        }

        std::vector<double> seconds;
        Imath::Box2i        crop;
        for (int r = 0; r < repetitions; ++r)
        {
            auto start = std::chrono::steady_clock::now();
            crop = findCropWindow(height, width, buffers);
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(seconds.begin(), seconds.end());
        std::printf("median %.6f window %d %d %d %d\n", seconds[seconds.size() / 2], crop.min.x, crop.min.y, crop.max.x,
                    crop.max.y);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "cropSearch: %s\n", error.what());
        return 1;
    }
    return 0;
}
