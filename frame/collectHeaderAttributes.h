// Carrying an input header's own attributes over to an output header, whatever their type.
#pragma once

#include <ImfHeader.h>

/// True for the attributes that a rewrite sets itself and never carries over: channels, compression, dataWindow,
/// displayWindow, lineOrder, tiles, type, name, view, version, chunkCount and multiView.
bool isSetByTheRewrite(const char* attributeName);

/// Inserts into output every attribute of input that the rewrite does not set itself, with its own type and its
/// whole value (unknown types as the library keeps them), replacing an attribute of the same name.
void collectHeaderAttributes(const Imf::Header& input, Imf::Header& output);

/// Puts attribute into header under name, replacing whatever the header holds under that name, whatever its type.
void replaceAttribute(Imf::Header& header, const char* name, const Imf::Attribute& attribute);

/// A scan-line ZIPS header with the input's windows, pixel aspect ratio and screen window, lines in increasing order,
/// as every rewritten part starts out.
Imf::Header scanlineOutputHeader(const Imf::Header& input);
