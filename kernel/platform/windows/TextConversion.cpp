// UTF-8 and UTF-16 with the platform's converter (code page 65001, no flags),
// which turns each malformed piece into U+FFFD.
#include "WindowsApi.h"

#include <new>

namespace {

// The converter takes int lengths; longer texts go in pieces that end on a
// whole character.
constexpr size_t kPiece = 1u << 28;

} // namespace

std::string ConvertUtf16ToUtf8(std::u16string_view wsv)
{
    std::string str;
    while (!wsv.empty()) {
        size_t cch = std::min(wsv.size(), kPiece);
        if (cch < wsv.size() && wsv[cch - 1] >= 0xD800 && wsv[cch - 1] <= 0xDBFF)
            --cch;
        const int cb = WideCharToMultiByte(CP_UTF8, 0, AsWide(wsv.data()), static_cast<int>(cch), nullptr, 0,
                                           nullptr, nullptr);
        const size_t nOld = str.size();
        str.resize(nOld + static_cast<size_t>(cb));
        WideCharToMultiByte(CP_UTF8, 0, AsWide(wsv.data()), static_cast<int>(cch), str.data() + nOld, cb, nullptr,
                            nullptr);
        wsv.remove_prefix(cch);
    }
    return str;
}

uint64_t Utf8LengthOfUtf16(std::u16string_view wsv)
{
    uint64_t cb = 0;
    while (!wsv.empty()) {
        size_t cch = std::min(wsv.size(), kPiece);
        if (cch < wsv.size() && wsv[cch - 1] >= 0xD800 && wsv[cch - 1] <= 0xDBFF)
            --cch;
        cb += static_cast<uint64_t>(WideCharToMultiByte(CP_UTF8, 0, AsWide(wsv.data()), static_cast<int>(cch), nullptr,
                                                        0, nullptr, nullptr));
        wsv.remove_prefix(cch);
    }
    return cb;
}

std::u16string ConvertUtf8ToUtf16(std::string_view sv)
{
    std::u16string wstr;
    while (!sv.empty()) {
        // A piece ends before a lead byte, so no sequence is split.
        size_t cb = std::min(sv.size(), kPiece);
        for (int i = 0; i < 3 && cb < sv.size() && (static_cast<unsigned char>(sv[cb]) & 0xC0) == 0x80; ++i)
            --cb;
        const int cch = MultiByteToWideChar(CP_UTF8, 0, sv.data(), static_cast<int>(cb), nullptr, 0);
        const size_t nOld = wstr.size();
        wstr.resize(nOld + static_cast<size_t>(cch));
        MultiByteToWideChar(CP_UTF8, 0, sv.data(), static_cast<int>(cb), AsWide(wstr.data() + nOld), cch);
        sv.remove_prefix(cb);
    }
    return wstr;
}
