// Result codes of a frame conversion, shared by the run driver and the conversions.
#pragma once

#include <cstdint>

/// The 32-bit result of a frame conversion; Ok means the frame was handled (rewritten, copied or left alone).
enum ImagePluginResult : int32_t
{
    Ok = 1,
    FileNotFound = 2,
    FileFailedToLoad = 3,
    UnsupportedFormat = 4,
    PluginNotCompatible = 5,
    UnhandledCError = 6,
    MemoryAllocationFailed = 7,
    PluginMissing = 8,
    UnableToLoad = 9,
    WrongFileSize = 12,
    NoImageDimensions = 13,
    DataError = 14,
    DimensionsLargerThanBuffer = 15,
    RequireFullLoad = 16,
    NoPluginForFileType = 17,
    PythonError = 18,
    FileSizeTooSmall = 19,
    DebugReleaseMismatch = 20,
    PlaceholderFile = 21,
    FailedToSaveFile = 22,
    OkWithDetail = 23,
    MemoryBufferTooSmall = 24,
    NoImageOutputFound = 25,
    AbsolutePathsRequired = 26,
    LoadEndOfFileOnly = 27,
    LayerCountMismatch = 29,
};
