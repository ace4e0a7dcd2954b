// The short text of a job ID stored as "ZQ/jobID".
#include "driver/jobIdText.h"

namespace {

const _zqString8_allSize<75> upperAlphabet("ABCDEFGHJKLMNOPQRSTUVWXYZ1234567890-");
const _zqString8_allSize<75> lowerAlphabet("abcdefghjklnopqrstuvwxyz");

void prepend(_zqString8_allSize<75>& text, char c)
{
    char joined[77];
    joined[0] = c;
    for (int i = 0; i <= text.length; ++i)
        joined[i + 1] = text.data[i];
    text.set(joined);
}

} // namespace

_zqString8_allSize<75> jobIdText(int64_t jobId)
{
    uint64_t bits = static_cast<uint64_t>(jobId);
    unsigned lowByte = unsigned(bits & 0xff);
    uint32_t y = uint32_t((bits >> 24) & 0xffffffffu) / 10000u;

    _zqString8_allSize<75> text("}");
    if (lowByte != 0)
    {
        unsigned c = lowByte - 1;
        prepend(text, lowerAlphabet.data[c % 24]);
        if (c / 24 != 0)
            prepend(text, lowerAlphabet.data[c / 24]);
    }
    prepend(text, upperAlphabet.data[y % 36]);
    prepend(text, upperAlphabet.data[(y / 36) % 36]);
    prepend(text, upperAlphabet.data[(y / 1296) % 36]);
    prepend(text, '{');
    return text;
}
