// Tessera's small DER writer, and the platform encoder behind one call.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/StatusCodes.h"

// The DER length octets for a value of that length: short form below 128,
// else 0x80|k and k bytes, most significant first. 0 is refused (E_FAIL):
// no element written here is ever empty.
HRESULT CalculateASNValueLength(uint32_t dwValueLength, std::vector<uint8_t>& vtrLength);

// The length of a whole element (tag, length octets and value) whose value
// has cbValue bytes.
uint64_t DerElementLength(uint64_t cbValue);

// One tag-length-value element. Only the low 8 bits of the tag count, and
// only INTEGER, OCTET STRING, OBJECT IDENTIFIER, UTF8String,
// PrintableString, IA5String, BMPString, SEQUENCE, SET and the context tag
// [0] (primitive 0x80, constructed 0xA0) are accepted; anything else is
// E_FAIL.
HRESULT ASN1Encode(uint32_t dwTag, const uint8_t* pbValue, uint32_t cbValue, std::vector<uint8_t>& vtrElement);

// The platform encoder's DER for a structure type and its record.
HRESULT EncodeObject(uintptr_t lpszStructType, const void* pvStructInfo, std::vector<uint8_t>& vtrEncoded);
