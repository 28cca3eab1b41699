// What the doctor found, kept twice over: as JSON (what --json prints, for
// a bug report or a script) and as the lines of the readable report in the
// user's language.
#pragma once

#include <cjson/cJSON.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "resources/DoctorTexts.h"

class Report {
public:
    explicit Report(UiLanguage language);

    // A text in the report's language.
    std::string Text(DoctorTextId id, std::initializer_list<std::string_view> values = {}) const
    {
        return DoctorText(m_language, id, values);
    }

    // The root's member of that name: an array of findings, made on first use.
    cJSON* Array(const char* pszSection);
    // A new object appended to that array.
    cJSON* Entry(const char* pszSection);
    // A value at the root.
    void Set(const char* pszName, cJSON* pValue);

    void Heading(DoctorTextId id, std::initializer_list<std::string_view> values = {});
    // A line of the readable report, indented by steps of two spaces.
    void Line(int nIndent, const std::string& text);

    std::string Readable() const;
    std::string Json() const;

private:
    UiLanguage m_language;
    std::unique_ptr<cJSON, void (*)(cJSON*)> m_pRoot;
    std::vector<std::string> m_vtrLines;
};

// JSON helpers that never fail silently into a crash: a null item is ignored.
void AddString(cJSON* pObject, const char* pszName, const std::string& value);
void AddNumber(cJSON* pObject, const char* pszName, double value);
void AddBool(cJSON* pObject, const char* pszName, bool value);
