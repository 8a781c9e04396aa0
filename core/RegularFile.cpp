#include "RegularFile.h"

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* OpenRegularFile(const std::string& name, const char* mode)
{
    if (name.empty() || mode == nullptr)
        return nullptr;
    std::string m(mode);
    std::erase(m, 'b');
    int flags = 0;
    bool empty = false;
    if (m == "r") {
        flags = O_RDONLY;
    } else if (m == "w") {
        flags = O_WRONLY | O_CREAT;
        empty = true;
    } else if (m == "a") {
        flags = O_WRONLY | O_CREAT | O_APPEND;
    } else if (m == "a+") {
        flags = O_RDWR | O_CREAT | O_APPEND;
    } else {
        return nullptr;
    }
    const int fd = ::open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    const int status = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || status < 0 ||
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 || (empty && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return nullptr;
    }
    m.push_back('b');
    std::FILE* file = ::fdopen(fd, m.c_str());
    if (file == nullptr)
        ::close(fd);
    return file;
}
