#include "kernel/platform/ReadableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "kernel/platform/LastError.h"
#include "kernel/platform/TextConversion.h"

ReadableFile::~ReadableFile()
{
    close(static_cast<int>(m_hFile));
}

std::unique_ptr<ReadableFile> ReadableFile::Open(const char16_t* pwszPath)
{
    const std::string strPath = ConvertUtf16ToUtf8(pwszPath);
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::unique_ptr<ReadableFile> pFile(new (std::nothrow) ReadableFile(fd));
    if (!pFile) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return pFile;
}

bool ReadableFile::GetSize(uint64_t& cbSize) const
{
    struct stat st {};
    if (fstat(static_cast<int>(m_hFile), &st) != 0 || st.st_size < 0)
        return false;
    cbSize = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ReadableFile::Read(uint8_t* pb, size_t cb, size_t& cbRead)
{
    cbRead = 0;
    while (cbRead < cb) {
        const ssize_t n = read(static_cast<int>(m_hFile), pb + cbRead, cb - cbRead);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        cbRead += static_cast<size_t>(n);
    }
    return true;
}
