// Writing of a scan-line multi-part file through a temporary file that replaces the target only when complete.
#pragma once

#include "frame/FrameJob.h"
#include "frame/FramePixels.h"
#include "zqshared/zqFile.h"

#include <ImfFrameBuffer.h>
#include <ImfHeader.h>

#include <QString>
#include <vector>

/// Writes one part per header, all with one data window, each with its channels of pixels over that window, into a
/// temporary file beside outputPath, flushes it to disk and renames it over outputPath; with verify, the file is read
/// back first and every sample compared with the pixels. With replaced given, outputPath is replaced only while it
/// still holds that file unchanged (see zqTempFileBeside::commit). Ok; FailedToSaveFile with the reason in detailText
/// (the library's text, naming outputPath, or the first difference); or, when a band of the pixels could not be read
/// again, the read's result and text. On failure outputPath keeps its bytes and no file is left.
ImagePluginResult writePartsAtomically(QString outputPath, const std::vector<Imf::Header>& headers,
                                       FramePixels& pixels, const std::vector<OutputChannels>& outputs, bool verify,
                                       QString& detailText, const zqFileIdentity* replaced = nullptr);

/// Compares the file at path, part by part and sample by sample, with what the frame buffers meant to write over
/// the headers' data windows; the empty text when they agree, else "Verification: " and the first difference.
QString verifyWrittenFile(const QString& path, const std::vector<Imf::Header>& headers,
                          const std::vector<Imf::FrameBuffer>& frameBuffers);

/// Writes a rewritten frame to the job's output path as writePartsAtomically does (verifying when the job asks); a
/// dry run only learns the size the file would have. In place, the file that was read is what gets replaced, where it
/// lies (a symbolic link stays) and only if it is still there unchanged. Ok with the written file's facts, else the
/// result of writePartsAtomically with the reason as detail text.
ImagePluginResult saveRewrittenFrame(FrameJob& job, const zqInputFile& frame, const std::vector<Imf::Header>& headers,
                                     FramePixels& pixels, const std::vector<OutputChannels>& outputs);
