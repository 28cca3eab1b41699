// Names as text, standing in for CertNameToStrW: the relative names last
// first, "key=value" with the Windows X.500 keys, the values of a
// multi-valued relative name joined by " + ", relative names joined by
// ", ", and no quoting.
#pragma once

#include <cstdint>

#include "StructureEncoder.h"

constexpr uint32_t CERT_SIMPLE_NAME_STR = 1;
constexpr uint32_t CERT_X500_NAME_STR = 3;
constexpr uint32_t CERT_NAME_STR_REVERSE_FLAG = 0x02000000;
constexpr uint32_t CERT_NAME_STR_NO_QUOTING_FLAG = 0x10000000;

// Writes the name (its DER encoding; dwCertEncodingType is
// X509_ASN_ENCODING) into psz (csz units, NUL included) and returns the units
// written with the NUL; with a null psz, returns the units needed. Returns
// 0, with the last error set, on failure. The string type's low byte picks
// the form (simple: values only; X.500: key=value); without
// CERT_NAME_STR_REVERSE_FLAG the relative names keep their encoded order.
uint32_t CertNameToStrW(uint32_t dwCertEncodingType, const CERT_NAME_BLOB* pName, uint32_t dwStrType, char16_t* psz,
                        uint32_t csz);
