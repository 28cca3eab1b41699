// The argument encodings of trace messages, the same for every transport.
#include "TraceProvider.h"

#include <cstring>

TraceArg TraceArgString(const char* psz)
{
    if (psz == nullptr)
        return {"NULL", 5};
    return {psz, static_cast<uint32_t>(std::strlen(psz) + 1)};
}

TraceArg TraceArgWide(const char16_t* pwsz)
{
    if (pwsz == nullptr)
        return {u"NULL", 10};
    if (*pwsz == u'\0')
        return {u"<NULL>", 14};
    uint32_t n = 0;
    while (pwsz[n] != u'\0')
        ++n;
    return {pwsz, (n + 1) * static_cast<uint32_t>(sizeof(char16_t))};
}
