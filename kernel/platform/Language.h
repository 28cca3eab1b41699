// The user-interface language, taken from the POSIX locale.
#pragma once

enum class UiLanguage { English, Chinese };

// Looks at LANGUAGE, LC_ALL, LC_MESSAGES and LANG in that order; the first
// one that is set and not empty decides. A value starting with "zh" selects
// Chinese, anything else English.
UiLanguage GetUserUiLanguage();
