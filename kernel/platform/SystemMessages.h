// System message texts for status codes, standing in for FormatMessageW with
// the system message table. Each text is the one Windows gives, in English
// or Chinese by the user's language, and ends in CR LF as Windows' do.
#pragma once

#include <cstdint>

// Copies the text for dwMessageId into buf (cut to cchBuffer - 1 units and
// NUL-terminated) and returns its length, or returns 0 and sets the last
// error when the code has no text.
uint32_t FormatSystemMessage(uint32_t dwMessageId, char16_t* buf, uint32_t cchBuffer);
