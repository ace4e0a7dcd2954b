// Reading every scan line of one part into a frame buffer, through the tool's own decoder where it can.
#pragma once

#include <ImfFrameBuffer.h>
#include <ImfMultiPartInputFile.h>

#include <QString>

/// Reads the whole data window of part into frameBuffer. Uncompressed, ZIPS and ZIP scan-line parts whose channels
/// all have sampling 1, read into slices of their own type with samples side by side, are decoded by the tool on
/// the library's thread count from the raw chunks; any other part, and a part whose chunks the tool cannot decode,
/// is read by the library (from a fresh handle on path when the tool's own read failed), whose exception then passes
/// to the caller.
void readPartPixels(Imf::MultiPartInputFile& input, const QString& path, int part, const Imf::FrameBuffer& frameBuffer);
