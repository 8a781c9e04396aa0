#include "link/SerialOpenAdvice.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::string ProcessName(long pid, const SerialAdviceRoots& roots)
{
    std::ifstream comm(roots.proc + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string DescribeProcess(long pid, const SerialAdviceRoots& roots)
{
    const std::string name = ProcessName(pid, roots);
    return "process " + std::to_string(pid) + (name.empty() ? std::string() : " (" + name + ")");
}

// A lock file holds the pid as text (HDB style) or as a 4-byte binary integer (old style).
long LockFilePid(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return 0;
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    long pid = 0;
    std::istringstream text(content);
    if (text >> pid && pid > 0)
        return pid;
    if (content.size() == 4) {
        int32_t binary = 0;
        std::memcpy(&binary, content.data(), 4);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

std::string UserName()
{
    const passwd* pw = getpwuid(geteuid());
    return pw ? pw->pw_name : std::to_string(geteuid());
}

bool ProcessHasGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    gid_t groups[256];
    const int n = getgroups(256, groups);
    return std::find(groups, groups + std::max(n, 0), gid) != groups + std::max(n, 0);
}

bool GroupListsUser(const group* gr, const std::string& user)
{
    for (char** member = gr->gr_mem; member && *member; ++member)
        if (user == *member)
            return true;
    return false;
}

std::string PermissionAdvice(const std::string& portName, const std::string& path)
{
    struct stat st {};
    const std::string user = UserName();
    if (::stat(path.c_str(), &st) != 0)
        return portName + ": permission denied on " + path + ".";
    const group* gr = getgrgid(st.st_gid);
    const std::string groupName = gr ? gr->gr_name : std::to_string(st.st_gid);
    if (ProcessHasGroup(st.st_gid)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return portName + ": permission denied on " + path + " (group " + groupName + ", mode " + mode +
               ") although user " + user + " is in that group; the device does not grant the group read and write access.";
    }
    if (gr && GroupListsUser(gr, user))
        return portName + ": permission denied on " + path + "; user " + user + " was added to the group " +
               groupName + " that owns the device, but this session predates it: log out and in again.";
    return portName + ": permission denied on " + path + "; user " + user + " is not in the group " + groupName +
           " that owns the device. Add it with 'sudo usermod -aG " + groupName + " " + user +
           "' and log in again.";
}

}  // namespace

std::string SerialOpenAdvice::FindHolder(const std::string& path, const SerialAdviceRoots& roots)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    const std::string base = (ec ? std::filesystem::path(path) : real).filename().string();
    for (const auto& dir : roots.lockDirs) {
        const long pid = LockFilePid(dir + "/LCK.." + base);
        if (pid > 0 && std::filesystem::exists(roots.proc + "/" + std::to_string(pid), ec))
            return DescribeProcess(pid, roots);
    }

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    // Lines read "1: FLOCK  ADVISORY  WRITE 7871 00:19:3 0 EOF": pid, then the device's
    // major:minor in hex and its inode.
    std::ifstream locks(roots.proc + "/locks");
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("->") != std::string::npos)
            continue;  // a waiter, not the holder
        std::istringstream fields(line);
        std::string id, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> id >> kind >> mode >> access >> pid >> where))
            continue;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3)
            continue;
        if (major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino && pid > 0)
            return DescribeProcess(pid, roots);
    }
    return {};
}

std::string SerialOpenAdvice::Describe(const std::string& portName, const std::string& path, int err,
                                       const SerialAdviceRoots& roots)
{
    if (path.empty())
        return portName + ": no serial device is known by this name; map it to a device path in the "
                          "SerialPorts group of the Korvane/KX2 settings (for example " +
               portName + "=/dev/ttyUSB0).";
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return portName + ": no such device " + path + "; plug the adaptor in, or map " + portName +
               " to an existing device path in the SerialPorts group of the Korvane/KX2 settings.";
    case EACCES:
    case EPERM:
        return PermissionAdvice(portName, path);
    case EBUSY:
    case EWOULDBLOCK: {
        const std::string holder = FindHolder(path, roots);
        if (!holder.empty())
            return portName + ": " + path + " is in use, held by " + holder + "; close that program first.";
        return portName + ": " + path + " is in use by another process; close the program that holds it.";
    }
    case ENOTTY:
        return portName + ": " + path + " is not a serial device.";
    default:
        return portName + ": cannot open " + path + ": " + std::strerror(err) + ".";
    }
}
