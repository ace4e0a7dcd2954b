// Test fixtures: EXR files generated with the OpenEXR API, read back and dumped as text.
#pragma once

#include <ImfCompression.h>
#include <ImfHeader.h>
#include <ImfPixelType.h>
#include <ImathBox.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zqtest {

/// The value of a channel at absolute pixel coordinates (x, y).
using PixelFunction = std::function<float(int x, int y)>;

/// A function that is 0 everywhere.
PixelFunction emptyPixels();
/// A function that is value inside box (absolute coordinates, inclusive) and 0 elsewhere.
PixelFunction boxPixels(const Imath::Box2i& box, float value = 1.0f);

/// One channel to write.
struct ChannelSpec
{
    std::string    name;                 ///< full channel name
    Imf::PixelType type = Imf::HALF;     ///< pixel type
    PixelFunction  value = emptyPixels(); ///< sample values (converted to the type)
    int            xSampling = 1;        ///< x sampling
    int            ySampling = 1;        ///< y sampling
};

/// One part to write.
struct PartSpec
{
    Imath::Box2i                      displayWindow{Imath::V2i(0, 0), Imath::V2i(63, 47)}; ///< display window
    Imath::Box2i                      dataWindow{Imath::V2i(0, 0), Imath::V2i(63, 47)};    ///< data window
    std::vector<ChannelSpec>          channels;            ///< channels
    std::string                       name;                ///< part name (multi-part files; empty: "part<i>")
    bool                              unnamed = false;     ///< write no name attribute (single-part files)
    bool                              tiled = false;       ///< tiled part (16 x 16 tiles, one level)
    Imf::Compression                  compression = Imf::ZIP_COMPRESSION; ///< compression
    std::function<void(Imf::Header&)> editHeader;          ///< extra header changes (attributes, views)
};

/// A box from its inclusive corners.
Imath::Box2i box(int minX, int minY, int maxX, int maxY);

/// Writes a single-part file (scan-line or tiled).
void writeSinglePart(const std::string& path, const PartSpec& part);
/// Writes a multi-part file with one part per spec.
void writeMultiPart(const std::string& path, const std::vector<PartSpec>& parts);
/// Writes a single-part deep scan-line file with one sample per pixel of channel Z.
void writeDeepScanline(const std::string& path, int width, int height);

/// The samples of one channel as read back, at their absolute coordinates.
struct ChannelPixels
{
    Imf::PixelType type = Imf::HALF; ///< pixel type in the file
    Imath::Box2i   window;           ///< the part's data window
    std::vector<uint32_t> bits;      ///< sample bits, row-major over the window (half bits widened)

    /// The sample at absolute (x, y) as a float.
    float at(int x, int y) const;
    /// The raw bits at absolute (x, y).
    uint32_t bitsAt(int x, int y) const;
};

/// Every channel of one part of a file, read through its own pixel type.
std::map<std::string, ChannelPixels> readPart(const std::string& path, int part);
/// Number of parts of a file.
int partCount(const std::string& path);
/// Header of one part.
Imf::Header readHeader(const std::string& path, int part);

/// The samples of a spec'd channel converted to the channel's type and back to float, at absolute (x, y).
float specValue(const ChannelSpec& channel, int x, int y);

/// A text dump of a file: per part its name, type, view, windows, compression, channels with a hash of their
/// samples, and its attributes other than the standard ones (values of "ZQ/date..." masked).
std::string dumpExr(const std::string& path);

/// A fresh private directory, removed with everything in it at the end of the test.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    /// The directory's path with a trailing '/'.
    const std::string& path() const { return m_path; }
    /// path() + name.
    std::string file(const std::string& name) const { return m_path + name; }
    /// Names of the entries in the directory, sorted.
    std::vector<std::string> list() const;

private:
    std::string m_path;
};

/// The bytes of a file ("" when it cannot be read).
std::string readBytes(const std::string& path);
/// Writes bytes to a file.
void writeBytes(const std::string& path, const std::string& bytes);
/// Modification time of a file in nanoseconds, or -1.
int64_t modificationTimeNs(const std::string& path);

/// The directory of the shared sample files, or "" when it is not present.
std::string samplesDir();

} // namespace zqtest
