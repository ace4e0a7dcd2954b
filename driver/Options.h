// The run options, parsed once from the command line and read-only afterwards.
#pragma once

#include <QString>
#include <cstdint>

/// The memory budget without --memory, and the smallest one --memory accepts.
constexpr int64_t kDefaultMemoryBudget = int64_t(1) << 30;
constexpr int64_t kSmallestMemoryBudget = int64_t(16) << 20;

/// What the command line asks the tool to do: the positional arguments, then the named farm options.
struct Options
{
    QString directoryText;       ///< directory part of BaseFileName, with its trailing separator (may be empty)
    QString baseName;            ///< file-name part of BaseFileName, the common start of the frame names
    QString extension;           ///< Extension, unchanged
    int32_t start = 0;           ///< first frame number
    int32_t end = 0;             ///< last frame number
    int32_t step = 1;            ///< frame step, > 0
    int32_t offset = 0;          ///< frame offset
    bool    exrHalfOnly = true;  ///< when true, Extension must be ".exr"
    bool    noOverwrite = false; ///< write "_crop." files beside the frames instead of rewriting them
    QString sceneName;           ///< stored as "ZQ/scenename" when not empty
    int64_t jobId = 0;           ///< stored as "ZQ/jobID" when not 0
    int32_t frameCount = 0;      ///< (end - start) / step + 1

    QString reportPath;          ///< --report: the JSON Lines report to write, or empty
    QString progressTemplate;    ///< --progress: the line printed after each slot, %d the percentage; empty for none
    bool    strict = false;      ///< --strict: exit code 1 when any frame ended other than done
    int     threads = 4;         ///< --threads: the library's thread count
    int64_t memoryBudget = kDefaultMemoryBudget; ///< --memory: bytes of decoded pixels a frame may hold at once
    bool    verify = false;      ///< --verify: read every rewritten file back before it replaces anything
    bool    dryRun = false;      ///< --dry-run: decide and encode every frame, write nothing on disk
    bool    summary = false;     ///< --summary: one summary line before "All Done"
    bool    quietStrays = false; ///< --quiet-strays: no warning for the files of the folder outside the sequence
    bool    missingOk = false;   ///< --missing-ok: with --strict, slots with no file do not set exit code 1
};
