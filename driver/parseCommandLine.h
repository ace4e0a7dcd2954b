// Parsing and checking of the command line, with the banner and usage texts.
#pragma once

#include "driver/Options.h"

#include <QByteArray>
#include <QStringList>

/// The outcome of the command-line checks: either options to run with, or a text to print and an exit code.
struct CommandLine
{
    bool       run = false; ///< true when the checks passed and options is valid
    Options    options;     ///< the parsed options when run is true
    QByteArray message;     ///< what to print when run is false (Latin-1)
    int        exitCode = 0; ///< the exit code when run is false
};

/// The banner: a line of dashes, the tool's name, version and copyright, and the dashes again.
QByteArray bannerText();
/// The usage text printed after the banner when arguments are missing.
QByteArray usageText();
/// True when text equals "1" or "true" in any letter case.
bool isTrueFlag(const QString& text);
/// Checks the positional arguments (without the program name) in the tool's order, on top of the named options
/// already taken; needs at least six.
CommandLine parseCommandLine(const QStringList& arguments, const Options& namedOptions);
