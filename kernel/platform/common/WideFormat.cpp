#include "kernel/platform/WideFormat.h"

#include <cstdarg>
#include <cstdint>

namespace {

class WideWriter {
public:
    // cch counts the terminator and is at least 1.
    WideWriter(char16_t* buf, size_t cch) : m_buf(buf), m_cap(cch - 1) {}
    void Put(char16_t ch)
    {
        if (m_len < m_cap)
            m_buf[m_len++] = ch;
    }
    size_t Finish()
    {
        m_buf[m_len] = u'\0';
        return m_len;
    }

private:
    char16_t* m_buf;
    size_t m_cap;
    size_t m_len = 0;
};

void PutUnsigned(WideWriter& out, uint32_t value, unsigned base, unsigned width, char16_t pad)
{
    char16_t digits[16];
    unsigned n = 0;
    do {
        const unsigned d = value % base;
        digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + d - 10);
        value /= base;
    } while (value != 0);
    for (; width > n; --width)
        out.Put(pad);
    while (n > 0)
        out.Put(digits[--n]);
}

} // namespace

size_t WideLength(const char16_t* pwsz)
{
    size_t n = 0;
    while (pwsz[n] != u'\0')
        ++n;
    return n;
}

size_t FormatWide(char16_t* buf, size_t cchBuf, const char16_t* pwszFormat, ...)
{
    if (buf == nullptr || cchBuf == 0)
        return 0;
    WideWriter out(buf, cchBuf);
    va_list args;
    va_start(args, pwszFormat);
    for (const char16_t* p = pwszFormat; *p != u'\0'; ++p) {
        if (*p != u'%') {
            out.Put(*p);
            continue;
        }
        ++p;
        char16_t pad = u' ';
        unsigned width = 0;
        if (*p == u'0') {
            pad = u'0';
            ++p;
        }
        while (*p >= u'0' && *p <= u'9')
            width = width * 10 + (*p++ - u'0');
        switch (*p) {
        case u'w':
            if (p[1] == u's') {
                ++p;
                const char16_t* pwsz = va_arg(args, const char16_t*);
                for (; pwsz != nullptr && *pwsz != u'\0'; ++pwsz)
                    out.Put(*pwsz);
            }
            break;
        case u'd': {
            const int value = va_arg(args, int);
            const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
            if (value < 0)
                out.Put(u'-');
            PutUnsigned(out, magnitude, 10, width, pad);
            break;
        }
        case u'x':
            PutUnsigned(out, va_arg(args, unsigned), 16, width, pad);
            break;
        case u'%':
            out.Put(u'%');
            break;
        case u'\0':
            --p; // a lone '%' at the end: stop at the terminator
            break;
        default:
            out.Put(u'%');
            out.Put(*p);
            break;
        }
    }
    va_end(args);
    return out.Finish();
}
