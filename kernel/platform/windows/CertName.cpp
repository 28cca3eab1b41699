#include "WindowsApi.h"

uint32_t CertNameToStrW(uint32_t dwCertEncodingType, const CERT_NAME_BLOB* pName, uint32_t dwStrType, char16_t* psz,
                        uint32_t csz)
{
    if (pName == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return 0;
    }
    Win32NameBlob name{pName->cbData, const_cast<BYTE*>(pName->pbData)};
    return ::CertNameToStrW(dwCertEncodingType, &name, dwStrType, AsWide(psz), csz);
}
