// The worker process that converts the frames, so that a crash or a kill during one frame ends that frame only.
#pragma once

#include "frame/FrameJob.h"
#include "driver/Options.h"

#include "zqshared/zqSystem.h"

#include <QStringList>

/// The answer of one frame's conversion in the worker.
struct FrameOutcome
{
    ImagePluginResult result = Ok; ///< the conversion's result code
    QString           detail;      ///< the detail text of the result line
    FrameFacts        facts;       ///< what the conversion learnt and did
    bool              stopped = false; ///< the run was stopped by a signal before the frame ended
};

/// A worker process that converts one frame after another with the library's threads of its own; the run's
/// process never starts a library thread, so a new worker can always be forked after one died (on Windows the
/// worker is a second instance of the executable). The worker lives
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
    /// A worker that dies by a signal (on Windows: an exception) ends the frame with DataError and the signal's name; the next frame gets a
    /// new worker.
    FrameOutcome convert(const QString& inputPath, const QString& outputPath, const ConsoleSink& console);

private:
    bool start(QString& error);
    void stop();

    const Options&  m_options;
    zqWorkerProcess m_process;
};

/// Keeps the run's arguments (before the named options are taken out) for a worker that is its own instance.
void setConversionWorkerArguments(const QStringList& arguments);

/// The main of an instance started as a worker: reads the run's arguments from the channel, then converts the frames
/// it is sent until the channel closes. Returns the instance's exit code.
int runConversionWorkerInstance(const zqChannel& channel);
