// Writing of a scan-line multi-part file through a temporary file that replaces the target only when complete.
#pragma once

#include <ImfFrameBuffer.h>
#include <ImfHeader.h>

#include <QString>
#include <vector>

/// Writes one part per header, each from its frame buffer over its whole data window, into a temporary file beside
/// outputPath, and renames it over outputPath once closed. On failure returns false with the reason in
/// detailText (the library's text, naming outputPath); outputPath keeps its previous bytes and no file is left.
bool writePartsAtomically(QString outputPath, const std::vector<Imf::Header>& headers,
                          const std::vector<Imf::FrameBuffer>& frameBuffers, QString& detailText);
