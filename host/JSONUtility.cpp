#include "JSONUtility.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "trace/TraceHelper.h"

#define TRACE_MODULE "JSONUtility"

namespace {

// The response sent when no response object exists. The name goes in as it
// is: only names that matched a known function can reach it.
constexpr char kFallbackResponse[] = "{\"function\":\"%s\", \"errorcode\":%d, \"result\":false}";
constexpr size_t kFallbackExtra = 59;

struct JsonTextDeleter {
    void operator()(char* p) const { cJSON_free(p); }
};

// cJSON keeps every decoded string as a C string, so a "\u0000" escape cuts
// a string short without a trace: "abc\u0000EVIL" would read as "abc". The
// functions below find such strings before anything reads the tree. A
// string value that held U+0000 is marked (in valueint, which cJSON leaves
// unused for strings and copies with the item); a member whose name held it
// is dropped, since no name the host looks for contains U+0000.
constexpr int kHoldsNul = 1;

// Whether each string literal of the text, in document order (member names
// and values alike), holds the escape \u0000. Literals after the first
// JSON value come last and are never asked for.
std::vector<bool> LiteralsHoldingNul(const char* pszText)
{
    std::vector<bool> vtrHoldsNul;
    bool bInString = false;
    bool bHoldsNul = false;
    for (const char* p = pszText; *p != '\0'; ++p) {
        if (!bInString) {
            if (*p == '"') {
                bInString = true;
                bHoldsNul = false;
            }
        } else if (*p == '"') {
            bInString = false;
            vtrHoldsNul.push_back(bHoldsNul);
        } else if (*p == '\\') {
            if (p[1] == '\0')
                break;
            bHoldsNul = bHoldsNul || std::strncmp(p + 1, "u0000", 5) == 0;
            ++p; // the escaped character, whatever it is
        }
    }
    return vtrHoldsNul;
}

// Walks the tree in document order beside the literals' flags.
void MarkStringsHoldingNul(cJSON* pItem, const std::vector<bool>& vtrHoldsNul, size_t& nLiteral)
{
    auto holdsNul = [&]() { return nLiteral < vtrHoldsNul.size() && vtrHoldsNul[nLiteral++]; };
    const bool bObject = cJSON_IsObject(pItem);
    for (cJSON* pChild = pItem->child; pChild != nullptr;) {
        cJSON* const pNext = pChild->next;
        const bool bNameHoldsNul = bObject && holdsNul();
        if (cJSON_IsString(pChild)) {
            if (holdsNul())
                pChild->valueint = kHoldsNul;
        } else if (cJSON_IsObject(pChild) || cJSON_IsArray(pChild)) {
            MarkStringsHoldingNul(pChild, vtrHoldsNul, nLiteral);
        }
        if (bNameHoldsNul)
            cJSON_Delete(cJSON_DetachItemViaPointer(pItem, pChild));
        pChild = pNext;
    }
}

bool HoldsNul(const cJSON* pString)
{
    return pString->valueint == kHoldsNul;
}

bool AddMember(cJSON* pObject, const char* pszName, cJSON* pItem)
{
    if (pItem == nullptr)
        return false;
    if (!cJSON_AddItemToObject(pObject, pszName, pItem)) {
        cJSON_Delete(pItem);
        return false;
    }
    return true;
}

} // namespace

HRESULT ParseRequestMsgToJSON(const char* pszRequestMsg, JsonPtr* ppJSONParams, std::string* pstrFuncName)
{
    TRACE_SCOPE();
    if (pszRequestMsg == nullptr || 0 == std::strlen(pszRequestMsg)) {
        TRACE_STEP_FAILED("Check Parameters(pszRequestMsg)", ERROR_INVALID_PARAMETER,
                          "(NULL == pszRequestMsg || 0 == strlen(pszRequestMsg))");
        return ERROR_INVALID_PARAMETER;
    }
    TRACE_STEP_OK("Check Parameters(pszRequestMsg)");

    const JsonPtr pJsonRoot(cJSON_Parse(pszRequestMsg));
    if (!pJsonRoot) {
        TRACE_STEP_FAILED("cJSON_Parse(pszRequestMsg)", -1, "NULL == pJsonRoot");
        return -1;
    }
    TRACE_STEP_OK("cJSON_Parse(pszRequestMsg)");
    if (std::strstr(pszRequestMsg, "\\u0000") != nullptr) {
        try {
            size_t nLiteral = 0;
            MarkStringsHoldingNul(pJsonRoot.get(), LiteralsHoldingNul(pszRequestMsg), nLiteral);
        } catch (const std::bad_alloc&) {
            TRACE_STEP_FAILED("New memory", -1, "!vtrHoldsNul");
            return -1;
        }
    }

    // A name holding U+0000 is none of the functions' names.
    const cJSON* pFunction = cJSON_GetObjectItem(pJsonRoot.get(), "function");
    const char* pszUTF8FuncName =
        cJSON_IsString(pFunction) && !HoldsNul(pFunction) ? pFunction->valuestring : nullptr;
    if (nullptr == pszUTF8FuncName) {
        TRACE_STEP_FAILED("cJSON_GetObjectItem(pszUTF8FuncName)", -1, "NULL == pszUTF8FuncName");
        return -1;
    }
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidJSONUtility, 10, pszUTF8FuncName);
    TRACE_STEP_OK("cJSON_GetObjectItem(pszUTF8FuncName)");

    const cJSON* ptrparamsArray = cJSON_GetObjectItem(pJsonRoot.get(), "params");
    if (nullptr == ptrparamsArray) {
        TRACE_STEP_FAILED("cJSON_GetObjectItem", -1, "NULL == ptrparamsArray");
        return -1;
    }
    TRACE_STEP_OK("cJSON_GetObjectItem");

    if (pstrFuncName != nullptr) {
        try {
            pstrFuncName->assign(pszUTF8FuncName);
        } catch (const std::bad_alloc&) {
            TRACE_STEP_FAILED("New memory", -1, "!*ppszUTF8FuncName");
            return -1;
        }
        TRACE_STEP_OK("New memory");
    }
    if (ppJSONParams != nullptr)
        ppJSONParams->reset(cJSON_Duplicate(ptrparamsArray, true));
    return KVRA_OK;
}

HRESULT ConverJSONArrayItemtoNULLEndString(const cJSON* pJSONArray, int nIndex, std::string* pstrItem)
{
    TRACE_SCOPE();
    if (nullptr == pJSONArray || nIndex < 0) {
        TRACE_STEP_FAILED("Check Parameters(pJSONArray)", ERROR_INVALID_PARAMETER,
                          "(NULL == pJSONArray || nIndex < 0)");
        return ERROR_INVALID_PARAMETER;
    }
    TRACE_STEP_OK("Check Parameters(pJSONArray)");

    const int nCount = cJSON_GetArraySize(pJSONArray);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidJSONUtility, 12, nCount);
    if (0 == nCount || nCount <= nIndex) {
        TRACE_STEP_FAILED("Check Parameters(JSONArray nIndex)", ERROR_INVALID_PARAMETER,
                          "(0 == nCount || nCount <= nIndex)");
        return ERROR_INVALID_PARAMETER;
    }
    TRACE_STEP_OK("Check Parameters(JSONArray nIndex)");

    const cJSON* pJSONItem = cJSON_GetArrayItem(pJSONArray, nIndex);
    if (nullptr == pJSONItem || !cJSON_IsObject(pJSONItem)) {
        TRACE_STEP_FAILED("cJSON_GetArrayItem", NTE_INTERNAL_ERROR,
                          "(NULL == pJSONItem || cJSON_Object != pJSONItem->type)");
        return NTE_INTERNAL_ERROR;
    }
    TRACE_STEP_OK("cJSON_GetArrayItem");

    const cJSON* pParam = cJSON_GetObjectItem(pJSONItem, "param");
    if (!cJSON_IsString(pParam)) {
        TRACE_STEP_FAILED("cJSON_GetObjectItem(type)", KVRA_E_PARAM_NOT_STRING, "cJSON_String != nItemType");
        return KVRA_E_PARAM_NOT_STRING;
    }
    TRACE_STEP_OK("cJSON_GetObjectItem(type)");

    const char* pszJSONItem = pParam->valuestring;
    if (nullptr == pszJSONItem) {
        TRACE_STEP_FAILED("cJSON_GetObjectItem(valuestring)", KVRA_E_PARAM_NOT_STRING, "NULL == pszJSONItem");
        return KVRA_E_PARAM_NOT_STRING;
    }
    // A NUL-terminated copy would hold only the part before the U+0000.
    if (HoldsNul(pParam)) {
        TRACE_STEP_FAILED("cJSON_GetObjectItem(valuestring)", E_INVALIDARG, "HoldsNul(pszJSONItem)");
        return E_INVALIDARG;
    }
    TRACE_STEP_OK("cJSON_GetObjectItem(valuestring)");

    try {
        std::string strItem(pszJSONItem);
        if (pstrItem != nullptr)
            *pstrItem = std::move(strItem);
    } catch (const std::bad_alloc&) {
        TRACE_STEP_FAILED("New memory", -1, "!pszNULLEndString");
        return -1;
    }
    TRACE_STEP_OK("New memory");
    return KVRA_OK;
}

HRESULT ConstructResponseJSON(const char* pszFuncName, HRESULT nErrorCode, const char* pszResult,
                              JsonPtr* ppResponseJSON)
{
    TRACE_SCOPE();
    if (nullptr == pszFuncName || 0 == std::strlen(pszFuncName)) {
        TRACE_STEP_FAILED("Check Parameters(pszFuncName)", ERROR_INVALID_PARAMETER,
                          "(NULL == pszFuncName || 0 == strlen(pszFuncName))");
        return ERROR_INVALID_PARAMETER;
    }
    TRACE_STEP_OK("Check Parameters(pszFuncName)");

    JsonPtr pResponseJSON(cJSON_CreateObject());
    if (!pResponseJSON) {
        TRACE_STEP_FAILED("cJSON_CreateObject", KVRA_E_CREATE_RESPONSE, "NULL == pResponseJSON");
        return KVRA_E_CREATE_RESPONSE;
    }
    TRACE_STEP_OK("cJSON_CreateObject");

    // A member that cannot be added would leave a response the page cannot
    // read, so it counts as an object that cannot be built.
    bool bBuilt = AddMember(pResponseJSON.get(), "function", cJSON_CreateString(pszFuncName)) &&
                  AddMember(pResponseJSON.get(), "errorcode", cJSON_CreateNumber(static_cast<double>(nErrorCode)));
    if (bBuilt && nErrorCode != KVRA_OK) {
        bBuilt = AddMember(pResponseJSON.get(), "result", cJSON_CreateFalse());
    } else if (bBuilt && pszResult != nullptr) {
        TraceMessage(TRACE_FLAG_INFO, kTraceGuidJSONUtility, 17, pszResult);
        bBuilt = AddMember(pResponseJSON.get(), "result", cJSON_CreateString(pszResult));
    }
    if (!bBuilt) {
        TRACE_STEP_FAILED("cJSON_AddItemToObject", KVRA_E_CREATE_RESPONSE, "NULL == pJSONItem");
        return KVRA_E_CREATE_RESPONSE;
    }

    if (ppResponseJSON != nullptr)
        *ppResponseJSON = std::move(pResponseJSON);
    return KVRA_OK;
}

HRESULT ConvertJSONToResponseMsg(const char* pszFuncName, const cJSON* pResponseJSON, std::string* pstrResponseMsg)
{
    TRACE_SCOPE();
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidJSONUtility, 11, pszFuncName);

    std::string strText;
    try {
        const std::unique_ptr<char, JsonTextDeleter> pszPrinted(
            pResponseJSON != nullptr ? cJSON_PrintUnformatted(pResponseJSON) : nullptr);
        if (pszPrinted) {
            strText.assign(pszPrinted.get());
        } else {
            // No object, or the printer ran out of memory: the page still
            // gets an answer, the fixed failure response.
            const char* pszName = pszFuncName != nullptr ? pszFuncName : "";
            std::vector<char> buf(std::strlen(pszName) + kFallbackExtra);
            std::snprintf(buf.data(), buf.size(), kFallbackResponse, pszName, NTE_INTERNAL_ERROR);
            strText.assign(buf.data());
        }
    } catch (const std::bad_alloc&) {
        strText.clear();
    }
    if (pstrResponseMsg != nullptr)
        *pstrResponseMsg = std::move(strText);
    return KVRA_OK;
}
