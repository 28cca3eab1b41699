// Letter case for comparing names without regard to it, standing in for the
// platform's case-insensitive wide-string search: the full Unicode simple
// case mapping, one code point at a time.
#pragma once

#include <string>
#include <string_view>

// The text with every code point mapped to its simple upper case. Code
// points outside the Basic Multilingual Plane are mapped as well; an unpaired
// surrogate is kept as it is. May throw std::bad_alloc.
std::u16string UpperCaseText(std::u16string_view wsvText);
