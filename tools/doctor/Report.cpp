#include "Report.h"

Report::Report(UiLanguage language) : m_language(language), m_pRoot(cJSON_CreateObject(), cJSON_Delete)
{
    m_vtrLines.push_back(Text(DoctorTextId::Title));
}

cJSON* Report::Array(const char* pszSection)
{
    cJSON* pArray = cJSON_GetObjectItemCaseSensitive(m_pRoot.get(), pszSection);
    if (pArray == nullptr)
        pArray = cJSON_AddArrayToObject(m_pRoot.get(), pszSection);
    return pArray;
}

cJSON* Report::Entry(const char* pszSection)
{
    cJSON* pEntry = cJSON_CreateObject();
    if (pEntry != nullptr && !cJSON_AddItemToArray(Array(pszSection), pEntry)) {
        cJSON_Delete(pEntry);
        return nullptr;
    }
    return pEntry;
}

void Report::Set(const char* pszName, cJSON* pValue)
{
    if (pValue != nullptr && !cJSON_AddItemToObject(m_pRoot.get(), pszName, pValue))
        cJSON_Delete(pValue);
}

void Report::Heading(DoctorTextId id, std::initializer_list<std::string_view> values)
{
    m_vtrLines.emplace_back();
    m_vtrLines.push_back(Text(id, values));
}

void Report::Line(int nIndent, const std::string& text)
{
    m_vtrLines.push_back(std::string(static_cast<size_t>(2 * (nIndent + 1)), ' ') + text);
}

std::string Report::Readable() const
{
    std::string out;
    for (const std::string& line : m_vtrLines)
        out += line + '\n';
    return out;
}

std::string Report::Json() const
{
    std::unique_ptr<char, void (*)(void*)> pText(cJSON_Print(m_pRoot.get()), cJSON_free);
    return pText ? std::string(pText.get()) + '\n' : "{}\n";
}

void AddString(cJSON* pObject, const char* pszName, const std::string& value)
{
    if (pObject != nullptr)
        cJSON_AddStringToObject(pObject, pszName, value.c_str());
}

void AddNumber(cJSON* pObject, const char* pszName, double value)
{
    if (pObject != nullptr)
        cJSON_AddNumberToObject(pObject, pszName, value);
}

void AddBool(cJSON* pObject, const char* pszName, bool value)
{
    if (pObject != nullptr)
        cJSON_AddBoolToObject(pObject, pszName, value);
}
