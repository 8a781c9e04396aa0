// Maps the port names COM1..COM50 to Linux device paths: from the "SerialPorts" settings
// group when it has entries, otherwise by enumerating the machine's serial devices.
#pragma once

#include <functional>
#include <map>
#include <string>

class QSettings;

class CommPortMap {
public:
    // Port number (1..50) -> device path.
    using Entries = std::map<int, std::string>;
    // Returns the configured ports (empty when none are configured).
    using SettingsReader = std::function<Entries()>;

    // Reads QSettings("Korvane","KX2") on every query and looks at the real /sys and /dev.
    CommPortMap();
    // sysTtyRoot stands for /sys/class/tty and devRoot for /dev, so that tests can
    // enumerate a fake tree.
    CommPortMap(SettingsReader settings, std::string sysTtyRoot, std::string devRoot);

    // The ports that exist now, numbered.
    Entries Ports() const;
    // The device behind COMn: the configured path even when it is missing (so that an
    // open can name it), the enumerated one otherwise; empty when the port is unknown.
    std::string DevicePath(int portNumber) const;
    // Same for a name "COMn"; empty for anything else.
    std::string DevicePath(const std::string& portName) const;

    // The COMn keys of the "SerialPorts" group of a settings object.
    static Entries ReadSettingsGroup(QSettings& settings);
    // "COMn" -> n for n in 1..50; 0 for anything else.
    static int PortNumber(const std::string& portName);

private:
    Entries Enumerate() const;
    bool UartPresent(const std::string& name) const;

    SettingsReader settings_;
    std::string sysTtyRoot_;
    std::string devRoot_;
};
