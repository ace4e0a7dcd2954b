// Damage in a frame's headers that the library would not see: attribute sizes checked against the file, and against
// what the library reads of each value, before it reads a byte of them.
#pragma once

#include <cstdint>
#include <string>

class zqInputFile;

/// What is wrong with the first attribute of the file's headers that declares more than 16 MB beyond the file's end
/// (the library makes room for the claim first), or whose value the library would read past or short of its declared
/// size (and the rest of the header out of step, where OpenEXRCore refuses it): a sentence naming the attribute. Empty
/// when no attribute is wrong, or where the library's own reading will find the damage.
std::string headerDamage(const zqInputFile& file);

/// Where the name of the "type" attribute of a single-part image file begins, which the library ignores (it takes the
/// part's type from the version flags: a flat file rewritten by an older library may say it is deep); -1 for none.
int64_t typeTheLibraryIgnores(const zqInputFile& file);
