// Steps of Core's decoding pipeline that the tool takes itself, for chunks whose samples keep their type and go into
// planes of one sample per pixel: Core unpacks such a frame sample by sample through a type switch when its channels
// differ in size, undoes ZIP's predictor a byte at a time and reads PIZ's code a byte at a time. The tool's steps
// write the same samples. They refuse what Core's refuse, with the same results; PIZ's step also refuses a code table
// that is no prefix code and a code that ends inside a code or a run, which Core's step may take.
#pragma once

#include <openexr.h>

#include <cstddef>

/// ZIP's and ZIPS's decompression: inflates the chunk through zlib's uncompress() into the pipeline's first scratch
/// buffer and undoes the predictor there, leaving the bytes in their two halves for unpackZipChunk(). A chunk stored
/// uncompressed (as large as its samples) stays where Core read it. EXR_ERR_CORRUPT_CHUNK where Core's step gives it,
/// EXR_ERR_OUT_OF_MEMORY when the scratch buffer cannot be had (from the pipeline's alloc_fn, which must be set).
exr_result_t undoZipChunk(exr_decode_pipeline_t* decode);

/// Unpacks a chunk that undoZipChunk() decompressed: interleaves its halves straight into the channels' lines.
exr_result_t unpackZipChunk(exr_decode_pipeline_t* decode);

/// PIZ's decompression: decodes the chunk's Huffman code into the pipeline's unpacked buffer and undoes the wavelet
/// transform there, leaving the map back to the words in the second scratch buffer for unpackPizChunk(). A chunk stored
/// uncompressed stays where Core read it. EXR_ERR_CORRUPT_CHUNK for a damaged chunk, EXR_ERR_OUT_OF_MEMORY when the
/// scratch buffer cannot be had (from the pipeline's alloc_fn, which must be set).
exr_result_t undoPizChunk(exr_decode_pipeline_t* decode);

/// Unpacks a chunk that undoPizChunk() decompressed: maps its words back into the channels' lines.
exr_result_t unpackPizChunk(exr_decode_pipeline_t* decode);

/// The second scratch buffer of undoPizChunk(), which a pipeline keeps beside its chunk buffers.
size_t pizScratchBytes();

/// Unpacks a chunk that Core decompressed (or read as it is stored) into the channels' lines, a copy per line of each
/// channel.
///
/// Both unpacking steps fill each channel with a decode_to_ptr; such a channel must be of the chunk's width and height,
/// with user_data_type its data_type and user_pixel_stride its bytes_per_element, and its lines user_line_stride
/// apart must lie in its plane. A chunk whose channels do not add up to its unpacked size is EXR_ERR_CORRUPT_CHUNK.
exr_result_t unpackChunk(exr_decode_pipeline_t* decode);
