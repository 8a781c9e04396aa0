#include "link/CommPortMap.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxPort = 50;

bool Exists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

// Names "<prefix><digits>" found in the given folders, in numeric order.
std::vector<std::string> NumberedNames(const std::vector<std::string>& folders, const std::string& prefix)
{
    std::map<long, std::string> byNumber;
    for (const auto& folder : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string digits = name.substr(prefix.size());
            if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
                continue;
            byNumber.emplace(std::stol(digits), name);
        }
    }
    std::vector<std::string> names;
    for (auto& [number, name] : byNumber)
        names.push_back(name);
    return names;
}

}  // namespace

CommPortMap::CommPortMap()
    : CommPortMap(
          [] {
              QSettings settings("Korvane", "KX2");
              return ReadSettingsGroup(settings);
          },
          "/sys/class/tty", "/dev")
{
}

CommPortMap::CommPortMap(SettingsReader settings, std::string sysTtyRoot, std::string devRoot)
    : settings_(std::move(settings)), sysTtyRoot_(std::move(sysTtyRoot)), devRoot_(std::move(devRoot))
{
}

int CommPortMap::PortNumber(const std::string& portName)
{
    for (int n = 1; n <= kMaxPort; ++n)
        if (portName == "COM" + std::to_string(n))
            return n;
    return 0;
}

CommPortMap::Entries CommPortMap::ReadSettingsGroup(QSettings& settings)
{
    Entries entries;
    settings.beginGroup("SerialPorts");
    const QStringList keys = settings.childKeys();
    for (const QString& key : keys) {
        const int n = PortNumber(key.toStdString());
        if (n != 0)
            entries[n] = settings.value(key).toString().toStdString();
    }
    settings.endGroup();
    return entries;
}

CommPortMap::Entries CommPortMap::Ports() const
{
    const Entries configured = settings_ ? settings_() : Entries{};
    if (configured.empty())
        return Enumerate();
    Entries existing;
    for (const auto& [n, path] : configured)
        if (Exists(path))
            existing[n] = path;
    return existing;
}

std::string CommPortMap::DevicePath(int portNumber) const
{
    if (portNumber < 1 || portNumber > kMaxPort)
        return {};
    const Entries configured = settings_ ? settings_() : Entries{};
    const Entries& source = configured.empty() ? Enumerate() : configured;
    const auto it = source.find(portNumber);
    return it == source.end() ? std::string() : it->second;
}

std::string CommPortMap::DevicePath(const std::string& portName) const
{
    return DevicePath(PortNumber(portName));
}

bool CommPortMap::UartPresent(const std::string& name) const
{
    // The 8250 driver registers every possible ttyS line; only those with a UART behind
    // them report a port type other than 0 (PORT_UNKNOWN).
    std::ifstream typeFile(sysTtyRoot_ + "/" + name + "/type");
    int type = 0;
    if (typeFile >> type)
        return type != 0;
    const int fd = ::open((devRoot_ + "/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

CommPortMap::Entries CommPortMap::Enumerate() const
{
    std::vector<std::string> paths;
    std::set<std::string> listed;  // kernel names already given a number

    for (const auto& name : NumberedNames({sysTtyRoot_}, "ttyS")) {
        const std::string path = devRoot_ + "/" + name;
        if (Exists(path) && UartPresent(name)) {
            paths.push_back(path);
            listed.insert(name);
        }
    }

    // USB adaptors under the names udev derives from their serial numbers, which stay the
    // same whatever order the adaptors were plugged in.
    std::map<std::string, std::string> byId;  // sorted by link name
    std::error_code ec;
    const std::string byIdDir = devRoot_ + "/serial/by-id";
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        const std::string kernelName =
            linkError ? it->path().filename().string() : target.filename().string();
        byId.emplace(it->path().filename().string(), kernelName);
    }
    for (const auto& [linkName, kernelName] : byId) {
        const std::string path = byIdDir + "/" + linkName;
        if (listed.count(kernelName) != 0 || !Exists(path))
            continue;
        paths.push_back(path);
        listed.insert(kernelName);
    }

    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const auto& name : NumberedNames({sysTtyRoot_, devRoot_}, prefix)) {
            const std::string path = devRoot_ + "/" + name;
            if (listed.count(name) != 0 || !Exists(path))
                continue;
            paths.push_back(path);
            listed.insert(name);
        }
    }

    Entries entries;
    for (size_t i = 0; i < paths.size() && i < static_cast<size_t>(kMaxPort); ++i)
        entries[static_cast<int>(i) + 1] = paths[i];
    return entries;
}
