// The named farm options (--name or --name=value), taken out of the command line before the positional arguments.
#pragma once

#include "driver/Options.h"

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <optional>

/// What the named options ask for, or the error a bad one gives.
struct NamedOptions
{
    bool       help = false;    ///< --help was given
    bool       version = false; ///< --version was given
    QByteArray error;           ///< "Error: Option --name: <reason>.\n" for the first bad value, else empty
};

/// Removes every named option from arguments (the others stay in order as positional arguments) and stores their
/// values in options. --help and --version are reported whatever else stands on the line.
NamedOptions takeNamedOptions(QStringList& arguments, Options& options);

/// The text --help prints after the banner and the usage text: one line per named option.
QByteArray namedOptionsHelp();

/// The bytes a --memory value names: digits with an optional K, M or G (powers of 1024), at least 16M and at most
/// 1T; none for anything else.
std::optional<int64_t> parseMemorySize(const QString& text);
