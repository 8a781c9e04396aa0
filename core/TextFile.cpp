#include "TextFile.h"

#include "RegularFile.h"

#include <cerrno>
#include <cstring>

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

TextFile::~TextFile()
{
    Close();
}

bool TextFile::Reset(const std::string& name, const char* mode, const char*& raw)
{
    Close();
    failed_ = false;
    eof_ = false;
    readError_ = false;
    pushed_ = -1;
    // The line-end translation is done here, so the stream itself is always binary.
    raw = nullptr;
    if (std::strcmp(mode, "r") == 0)
        raw = "rb";
    else if (std::strcmp(mode, "w") == 0)
        raw = "wb";
    else if (std::strcmp(mode, "a") == 0)
        raw = "ab";
    else if (std::strcmp(mode, "a+") == 0)
        raw = "a+b";
    return raw != nullptr && !name.empty();
}

bool TextFile::Open(const std::string& name, const char* mode)
{
    const char* raw = nullptr;
    if (!Reset(name, mode, raw))
        return false;
    // Every input file is a regular file: a pipe with no writer must not hold the run in
    // its open, and reading a folder or a device need never end.
    if (raw[0] == 'r')
        return OpenRegular(name, mode);
    file_ = std::fopen(name.c_str(), raw);
    struct stat info {};
    if (file_ != nullptr && fstat(fileno(file_), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file_);
        file_ = nullptr;
    }
    return file_ != nullptr;
}

bool TextFile::OpenRegular(const std::string& name, const char* mode)
{
    const char* raw = nullptr;
    if (!Reset(name, mode, raw))
        return false;
    file_ = OpenRegularFile(name, raw);
    return file_ != nullptr;
}

bool TextFile::Close()
{
    if (file_ == nullptr)
        return !failed_;
    if (std::fclose(file_) != 0)
        failed_ = true;
    file_ = nullptr;
    return !failed_;
}

bool TextFile::Write(std::string_view text)
{
    if (file_ == nullptr) {
        failed_ = true;
        return false;
    }
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    if (std::fwrite(out.data(), 1, out.size(), file_) != out.size())
        failed_ = true;
    return !failed_;
}

bool TextFile::Flush()
{
    if (file_ == nullptr || std::fflush(file_) != 0)
        failed_ = true;
    return !failed_;
}

bool TextFile::Sync()
{
    if (!Flush())
        return false;
    if (fsync(fileno(file_)) != 0 && errno != EINVAL && errno != EROFS)
        failed_ = true;
    return !failed_;
}

long TextFile::Size() const
{
    struct stat info {};
    if (file_ == nullptr || fstat(fileno(file_), &info) != 0)
        return -1;
    return static_cast<long>(info.st_size);
}

bool TextFile::Truncate(long size)
{
    if (file_ == nullptr || size < 0)
        return false;
    __fpurge(file_);
    return ftruncate(fileno(file_), size) == 0 && Seek(size);
}

bool TextFile::AppendWhole(std::string_view block, bool sync)
{
    const long before = Size();
    if (Write(block) && (sync ? Sync() : Flush()))
        return true;
    const int error = errno;
    if (before >= 0)
        Truncate(before);
    errno = error;
    return false;
}

int TextFile::ReadChar()
{
    if (pushed_ >= 0) {
        const int c = pushed_;
        pushed_ = -1;
        return c;
    }
    if (file_ == nullptr || eof_)
        return -1;
    for (;;) {
        const int c = std::fgetc(file_);
        if (c == EOF || c == 0x1A) {
            eof_ = true;
            readError_ = c == EOF && std::ferror(file_) != 0;
            return -1;
        }
        if (c != '\r')
            return c;
    }
}

void TextFile::UnreadChar(int c)
{
    if (c >= 0)
        pushed_ = c & 0xFF;
}

bool TextFile::ReadLine(std::string& line)
{
    line.clear();
    int c = ReadChar();
    if (c < 0)
        return false;
    while (c >= 0 && c != '\n') {
        line.push_back(static_cast<char>(c));
        c = ReadChar();
    }
    return true;
}

long TextFile::Position() const
{
    if (file_ == nullptr)
        return -1;
    const long pos = std::ftell(file_);
    return pushed_ >= 0 && pos > 0 ? pos - 1 : pos;
}

bool TextFile::Seek(long position)
{
    if (file_ == nullptr || std::fseek(file_, position, SEEK_SET) != 0)
        return false;
    std::clearerr(file_);
    eof_ = false;
    readError_ = false;
    pushed_ = -1;
    return true;
}
