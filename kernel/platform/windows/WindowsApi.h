// The Windows API as the platform layer's Windows implementation sees it.
//
// The seam headers give Tessera's own forms of several names that the
// Windows headers also declare (SYSTEMTIME, CERT_CONTEXT, HCRYPTPROV, the
// CRYPT_* records and so on): the layers above see the seam's forms on every
// platform. This header includes the seam first, then the Windows headers
// with those names renamed to Win32*, so that one translation unit can use
// both. Include it instead of <windows.h>, and before anything else.
#pragma once

#include "kernel/platform/CaseMapping.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/CertStore.h"
#include "kernel/platform/CryptoProvider.h"
#include "kernel/platform/Language.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/ModuleLoader.h"
#include "kernel/platform/ReadableFile.h"
#include "kernel/platform/ResourceModule.h"
#include "kernel/platform/StandardStreams.h"
#include "kernel/platform/StructureEncoder.h"
#include "kernel/platform/SystemMessages.h"
#include "kernel/platform/TextConversion.h"

#ifdef TESSERA_WINDOWS_UI
// The dialog module also uses Tessera's statuses, whose HRESULT is a 32-bit
// int where Windows has a long of the same size.
#include "kernel/platform/StatusCodes.h"
#define HRESULT Win32HResult
#endif

#define SYSTEMTIME Win32SystemTime
#define FILETIME Win32FileTime
#define CERT_CONTEXT Win32CertContext
#define HCERTSTORE Win32CertStore
#define HCRYPTPROV Win32CryptProv
#define HCRYPTHASH Win32CryptHash
#define CRYPT_DATA_BLOB Win32DataBlob
#define CRYPT_INTEGER_BLOB Win32IntegerBlob
#define CERT_NAME_BLOB Win32NameBlob
#define CRYPT_OBJID_BLOB Win32ObjIdBlob
#define CRYPT_ATTRIBUTE Win32Attribute
#define CRYPT_ATTRIBUTES Win32Attributes
#define CRYPT_ALGORITHM_IDENTIFIER Win32AlgorithmIdentifier
#define CRYPT_CONTENT_INFO Win32ContentInfo
#define CMSG_SIGNER_INFO Win32SignerInfo

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <wincrypt.h>
#include <ncrypt.h>
// The Windows dialog module also draws: COM streams, the common controls,
// GDI+ and the certificate viewer, which use the renamed names too.
#ifdef TESSERA_WINDOWS_UI
#include <objidl.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <cryptuiapi.h>
#endif

#ifdef TESSERA_WINDOWS_UI
#undef HRESULT
#endif
#undef SYSTEMTIME
#undef FILETIME
#undef CERT_CONTEXT
#undef HCERTSTORE
#undef HCRYPTPROV
#undef HCRYPTHASH
#undef CRYPT_DATA_BLOB
#undef CRYPT_INTEGER_BLOB
#undef CERT_NAME_BLOB
#undef CRYPT_OBJID_BLOB
#undef CRYPT_ATTRIBUTE
#undef CRYPT_ATTRIBUTES
#undef CRYPT_ALGORITHM_IDENTIFIER
#undef CRYPT_CONTENT_INFO
#undef CMSG_SIGNER_INFO
// The seam's own function and structure-type names.
#undef CertOpenSystemStore
#undef PKCS_ATTRIBUTE
#undef X509_OCTET_STRING
#undef PKCS_CONTENT_INFO
#undef X509_ALGORITHM_IDENTIFIER
#undef PKCS7_SIGNER_INFO

// The Windows certificate behind one of the seam's certificate references.
inline PCCERT_CONTEXT Win32Cert(const CERT_CONTEXT& cert) { return reinterpret_cast<PCCERT_CONTEXT>(&cert); }

// UTF-16 strings are char16_t above the seam and wchar_t in the Windows API;
// both are 16-bit code units on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline const wchar_t* AsWide(const char16_t* pwsz) { return reinterpret_cast<const wchar_t*>(pwsz); }
inline wchar_t* AsWide(char16_t* pwsz) { return reinterpret_cast<wchar_t*>(pwsz); }
