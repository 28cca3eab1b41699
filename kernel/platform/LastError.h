// The calling thread's last-error value, as Windows keeps it. The platform
// layer stores the Windows-compatible code of every failure here so that the
// layers above turn it into the same status on every platform.
#pragma once

#include <cstdint>

#ifdef _WIN32
// Windows keeps it itself, and its own services set it.
extern "C" __declspec(dllimport) unsigned long __stdcall GetLastError(void);
extern "C" __declspec(dllimport) void __stdcall SetLastError(unsigned long dwError);
#else
uint32_t GetLastError();
void SetLastError(uint32_t dwError);
#endif

// Win32 error numbers that the platform layer reports.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr uint32_t ERROR_MR_MID_NOT_FOUND = 317;
