#include "WindowsApi.h"

ReadableFile::~ReadableFile() { CloseHandle(reinterpret_cast<HANDLE>(m_hFile)); }

std::unique_ptr<ReadableFile> ReadableFile::Open(const char16_t* pwszPath)
{
    const HANDLE hFile = CreateFileW(AsWide(pwszPath), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        const DWORD dwError = GetLastError();
        SetLastError(dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND
                                                                                         : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::unique_ptr<ReadableFile> pFile(new (std::nothrow) ReadableFile(reinterpret_cast<intptr_t>(hFile)));
    if (!pFile) {
        CloseHandle(hFile);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return pFile;
}

bool ReadableFile::GetSize(uint64_t& cbSize) const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(m_hFile), &size))
        return false;
    cbSize = static_cast<uint64_t>(size.QuadPart);
    return true;
}

bool ReadableFile::Read(uint8_t* pb, size_t cb, size_t& cbRead)
{
    cbRead = 0;
    while (cbRead < cb) {
        const DWORD cbChunk = static_cast<DWORD>(std::min<size_t>(cb - cbRead, 1u << 30));
        DWORD cbDone = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(m_hFile), pb + cbRead, cbChunk, &cbDone, nullptr))
            return false;
        if (cbDone == 0)
            break;
        cbRead += cbDone;
    }
    return true;
}
