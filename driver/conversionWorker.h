// The worker process that converts the frames, so that a crash or a kill during one frame ends that frame only.
#pragma once

#include "frame/FrameJob.h"
#include "driver/Options.h"

#include <sys/types.h>

/// The answer of one frame's conversion in the worker.
struct FrameOutcome
{
    ImagePluginResult result = Ok; ///< the conversion's result code
    QString           detail;      ///< the detail text of the result line
    FrameFacts        facts;       ///< what the conversion learnt and did
    bool              stopped = false; ///< the run was stopped by a signal before the frame ended
};

/// A forked process that converts one frame after another with the library's threads of its own; the run's
/// process never starts a library thread, so a new worker can always be forked after one died. The worker lives
/// as long as this object, and its plane memory is reused from frame to frame.
class ConversionWorker
{
public:
    /// Remembers the options; the process is started before the first frame.
    explicit ConversionWorker(const Options& options);
    /// Ends the worker and waits for it.
    ~ConversionWorker();
    ConversionWorker(const ConversionWorker&) = delete;
    ConversionWorker& operator=(const ConversionWorker&) = delete;

    /// Converts the frame at inputPath to outputPath in the worker; its console text goes to console as it comes.
    /// A worker that dies by a signal ends the frame with DataError and the signal's name; the next frame gets a
    /// new worker. A stop signal of the run kills the worker at once; the frame then ends as stopped.
    FrameOutcome convert(const QString& inputPath, const QString& outputPath, const ConsoleSink& console);

private:
    bool start(QString& error);
    void stop();
    QString ending(int status) const;

    const Options& m_options;
    pid_t          m_pid = -1;
    int            m_socket = -1;
};
