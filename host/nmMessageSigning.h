// The functions a web page can call, and their handlers. Each handler takes
// its parameters from the request, calls the crypto agent and always builds
// a response; failures travel in the response's "errorcode".
#pragma once

#include "JSONUtility.h"

class CCryptoAgent;

// Runs the handler whose function name matches pszFuncName without regard
// to ASCII letter case. Returns the handler's status: 0 with a response; -1
// with no response for a name that matches no function; 0xA0073201 with no
// response for a signature whose answer could never be sent (over
// MAX_SEND_MSG_LEN), found before signing.
HRESULT Invoke(const char* pszFuncName, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON);

// "SelectSignCertificate": subject filter, issuer filter; answers the
// subject of the certificate now selected for signing. A filter holding
// U+0000 is refused with 0x80070057 and leaves nothing selected.
HRESULT nmSelectSignCertificate(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON);

// "SignMessage", "SignMessageDetached", "SignMessagePKCS1": message, hash
// algorithm name; answer the Base64 signature. A message or algorithm holding
// U+0000 is refused with 0x80070057, as the agent's last status.
HRESULT nmSignMessage(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON);
HRESULT nmSignMessageDetached(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON);
HRESULT nmSignMessagePKCS1(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON);

// "GetLastErrorDesc": no parameters; answers the description of the agent's
// last status. Any failure is answered with "errorcode" -1.
HRESULT nmGetLastErrorDesc(CCryptoAgent* pobjCryptoAgent, const cJSON* pJSONArgs, JsonPtr* ppResponseJSON);
