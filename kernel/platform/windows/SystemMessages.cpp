#include "WindowsApi.h"

uint32_t FormatSystemMessage(uint32_t dwMessageId, char16_t* buf, uint32_t cchBuffer)
{
    return FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwMessageId, 0,
                          AsWide(buf), cchBuffer, nullptr);
}
