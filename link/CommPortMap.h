// Maps the port names COM1..COM50 to Linux device paths: from the "SerialPorts" group of the
// user's settings file (core/SettingsStore) when it has entries, otherwise by numbering the
// machine's serial devices, each keeping the number it was first given (remembered in the
// "AutoSerialPorts" group).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

class CommPortMap {
public:
    // Port number (1..50) -> device path.
    using Entries = std::map<int, std::string>;
    // Returns the ports of one settings group (empty when it has none).
    using SettingsReader = std::function<Entries()>;
    // Stores port -> device path in the group of automatically numbered ports.
    using SettingsWriter = std::function<void(int port, const std::string& path)>;

    static constexpr const char* kConfiguredGroup = "SerialPorts";
    static constexpr const char* kAutomaticGroup = "AutoSerialPorts";

    // Reads and writes the groups of the settings file and looks at the real /sys and /dev.
    CommPortMap();
    // The same with sysTtyRoot standing for /sys/class/tty and devRoot for /dev.
    CommPortMap(std::string sysTtyRoot, std::string devRoot);
    // Without the settings file, for tests and benchmarks. `remembered` and `remember` reach
    // the automatic numbers; the form without them keeps those numbers in memory for the
    // map's lifetime.
    CommPortMap(SettingsReader configured, std::string sysTtyRoot, std::string devRoot);
    CommPortMap(SettingsReader configured, SettingsReader remembered, SettingsWriter remember,
                std::string sysTtyRoot, std::string devRoot);

    // The ports that exist now, numbered. Numbers a device seen for the first time.
    Entries Ports() const;
    // The device behind COMn, even when it is missing (so that an open can name it);
    // empty when the port is unknown.
    std::string DevicePath(int portNumber) const;
    // Same for a name "COMn"; empty for anything else.
    std::string DevicePath(const std::string& portName) const;

    // The COMn keys of a settings group (key -> value); other keys are left out.
    static Entries PortsOf(const std::map<std::string, std::string>& group);
    // "COMn" -> n for n in 1..50; 0 for anything else.
    static int PortNumber(const std::string& portName);

private:
    struct Device {
        std::string path;        // the stable name: /dev/serial/by-id/... or /dev/ttyX
        std::string kernelName;  // ttyUSB0 and the like
    };
    struct Numbering {
        Entries all;      // every remembered number, present or not
        Entries present;  // those whose device is there now
    };

    Numbering AutomaticNumbers() const;
    std::vector<Device> Enumerate() const;
    bool UartPresent(const std::string& name) const;

    SettingsReader configured_;
    SettingsReader remembered_;
    SettingsWriter remember_;
    std::string sysTtyRoot_;
    std::string devRoot_;
};
