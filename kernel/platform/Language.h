// The user-interface language: on Linux taken from the POSIX locale, on
// Windows the user's UI language.
#pragma once

enum class UiLanguage { English, Chinese };

// Linux looks at LANGUAGE, LC_ALL, LC_MESSAGES and LANG in that order; the
// first one that is set and not empty decides. A value starting with "zh"
// selects Chinese, anything else English. Windows selects Chinese when the
// UI language's primary language is Chinese.
UiLanguage GetUserUiLanguage();
