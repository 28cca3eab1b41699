// Request and response JSON, through cJSON.
//
// Request: {"function": string, "params": [{"param": string}, ...]}; member
// names match without regard to case and the first of duplicates counts.
// Response: {"function":..., "errorcode":..., "result":...} printed without
// whitespace.
#pragma once

#include <cjson/cJSON.h>

#include <memory>
#include <string>

#include "kernel/platform/StatusCodes.h"

struct JsonDeleter {
    void operator()(cJSON* p) const { cJSON_Delete(p); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// Parses a request into a deep copy of its "params" value and a copy of its
// "function" name; either output may be null and is then not produced.
// Returns 87 for a null or empty text, -1 for anything that is not a request
// (not JSON, no string "function", no "params") or when a copy cannot be
// made. A "function" name holding U+0000 is no name at all (-1), and a
// member whose name holds U+0000 is ignored.
HRESULT ParseRequestMsgToJSON(const char* pszRequestMsg, JsonPtr* ppJSONParams, std::string* pstrFuncName);

// The "param" string of element nIndex of the parameter list. Returns 87 for
// a missing list or an index out of range, 0x8009002D when the element is
// not an object, 0xA0073204 when its "param" is missing or not a string,
// 0x80070057 when the string holds U+0000 (which a NUL-terminated copy
// cannot carry), -1 when the copy cannot be made.
HRESULT ConverJSONArrayItemtoNULLEndString(const cJSON* pJSONArray, int nIndex, std::string* pstrItem);

// Builds {"function": pszFuncName, "errorcode": nErrorCode, "result": ...}:
// "result" is false on failure, pszResult on success, and absent on success
// without a result. Returns 87 for a null or empty name, 0xA0073202 when the
// object cannot be built. With a null destination the object is discarded.
HRESULT ConstructResponseJSON(const char* pszFuncName, HRESULT nErrorCode, const char* pszResult,
                              JsonPtr* ppResponseJSON);

// Prints the response object without whitespace. Without an object, the text
// is a fixed failure response naming pszFuncName with 0x8009002D. Always
// returns 0; the text is empty only when not even that could be allocated.
HRESULT ConvertJSONToResponseMsg(const char* pszFuncName, const cJSON* pResponseJSON, std::string* pstrResponseMsg);
