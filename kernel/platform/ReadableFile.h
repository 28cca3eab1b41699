// Reading a file, standing in for CreateFileW with read access,
// GetFileSizeEx, ReadFile and CloseHandle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A file open for reading; closed when it goes.
class ReadableFile {
public:
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;
    ~ReadableFile();

    // Opens the file. On failure returns null with the last error set:
    // ERROR_FILE_NOT_FOUND when there is no such file, ERROR_ACCESS_DENIED
    // for any other reason.
    static std::unique_ptr<ReadableFile> Open(const char16_t* pwszPath);

    // The file's size in bytes; false when it cannot be told.
    bool GetSize(uint64_t& cbSize) const;

    // Reads up to cb bytes into pb; false on a read error. cbRead tells how
    // many were read, fewer than cb only at the end of the file.
    bool Read(uint8_t* pb, size_t cb, size_t& cbRead);

private:
    explicit ReadableFile(intptr_t hFile) : m_hFile(hFile) {}
    intptr_t m_hFile; // the platform's handle of the open file
};
