#include "link/CommPortMap.h"

#include "core/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
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
            if (digits.size() > 6 ||
                !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
                continue;
            byNumber.emplace(std::stol(digits), name);
        }
    }
    std::vector<std::string> names;
    for (auto& [number, name] : byNumber) names.push_back(name);
    return names;
}

}  // namespace

CommPortMap::CommPortMap() : CommPortMap("/sys/class/tty", "/dev") {}

CommPortMap::CommPortMap(std::string sysTtyRoot, std::string devRoot)
    : CommPortMap([] { return PortsOf(SettingsStore::Group(kConfiguredGroup)); },
                  [] { return PortsOf(SettingsStore::Group(kAutomaticGroup)); },
                  [](int port, const std::string& path) {
                      SettingsStore::SetInGroup(kAutomaticGroup, "COM" + std::to_string(port), path);
                  },
                  std::move(sysTtyRoot), std::move(devRoot))
{
}

CommPortMap::CommPortMap(SettingsReader configured, std::string sysTtyRoot, std::string devRoot)
    : configured_(std::move(configured)), sysTtyRoot_(std::move(sysTtyRoot)), devRoot_(std::move(devRoot))
{
    auto memory = std::make_shared<Entries>();
    remembered_ = [memory] { return *memory; };
    remember_ = [memory](int port, const std::string& path) { (*memory)[port] = path; };
}

CommPortMap::CommPortMap(SettingsReader configured, SettingsReader remembered, SettingsWriter remember,
                         std::string sysTtyRoot, std::string devRoot)
    : configured_(std::move(configured)),
      remembered_(std::move(remembered)),
      remember_(std::move(remember)),
      sysTtyRoot_(std::move(sysTtyRoot)),
      devRoot_(std::move(devRoot))
{
}

int CommPortMap::PortNumber(const std::string& portName)
{
    for (int n = 1; n <= kMaxPort; ++n)
        if (portName == "COM" + std::to_string(n))
            return n;
    return 0;
}

CommPortMap::Entries CommPortMap::PortsOf(const std::map<std::string, std::string>& group)
{
    Entries entries;
    for (const auto& [key, value] : group)
        if (const int n = PortNumber(key); n != 0)
            entries[n] = value;
    return entries;
}

CommPortMap::Entries CommPortMap::Ports() const
{
    const Entries configured = configured_ ? configured_() : Entries{};
    if (configured.empty())
        return AutomaticNumbers().present;
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
    const Entries configured = configured_ ? configured_() : Entries{};
    const Entries source = configured.empty() ? AutomaticNumbers().all : configured;
    const auto it = source.find(portNumber);
    return it == source.end() ? std::string() : it->second;
}

std::string CommPortMap::DevicePath(const std::string& portName) const
{
    return DevicePath(PortNumber(portName));
}

CommPortMap::Numbering CommPortMap::AutomaticNumbers() const
{
    Numbering numbers;
    numbers.all = remembered_ ? remembered_() : Entries{};
    std::map<std::string, int> byPath;
    for (const auto& [n, path] : numbers.all)
        byPath.emplace(path, n);  // a path listed twice keeps its lowest number

    const auto give = [&](int n, const std::string& path) {
        numbers.all[n] = path;
        byPath[path] = n;
        if (remember_)
            remember_(n, path);
    };
    for (const Device& device : Enumerate()) {
        int number = 0;
        if (const auto known = byPath.find(device.path); known != byPath.end()) {
            number = known->second;
        } else if (const auto early = byPath.find(devRoot_ + "/" + device.kernelName);
                   early != byPath.end() && early->first != device.path) {
            // udev adds the by-id link a moment after the device node: a device numbered
            // in between under its kernel name keeps that number under its stable name.
            number = early->second;
            byPath.erase(early);
            give(number, device.path);
        } else {
            for (int n = 1; n <= kMaxPort && number == 0; ++n)
                if (numbers.all.count(n) == 0)
                    number = n;
            if (number == 0)
                continue;  // every number is taken, by devices present or reserved
            give(number, device.path);
        }
        numbers.present[number] = device.path;
    }
    return numbers;
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

std::vector<CommPortMap::Device> CommPortMap::Enumerate() const
{
    std::vector<Device> devices;
    std::set<std::string> listed;  // kernel names already listed

    for (const auto& name : NumberedNames({sysTtyRoot_}, "ttyS")) {
        const std::string path = devRoot_ + "/" + name;
        if (Exists(path) && UartPresent(name)) {
            devices.push_back({path, name});
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
        devices.push_back({path, kernelName});
        listed.insert(kernelName);
    }

    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const auto& name : NumberedNames({sysTtyRoot_, devRoot_}, prefix)) {
            const std::string path = devRoot_ + "/" + name;
            if (listed.count(name) != 0 || !Exists(path))
                continue;
            devices.push_back({path, name});
            listed.insert(name);
        }
    }
    return devices;
}
