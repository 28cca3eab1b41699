// The string tables of the program's built-in resources.
#pragma once

#include <span>

#include "kernel/platform/ResourceModule.h"

extern const std::span<const StringResource> g_EnglishStringTable;
extern const std::span<const StringResource> g_ChineseStringTable;
