// The window's remembered settings at the top level of the user's settings file
// (core/SettingsStore): the command and input file names, speed, port, clock address and
// fingerprint log file.
#pragma once

#include <optional>
#include <string>

class QSettings;

// What a load found; a field is empty when it was not read (the read stopped before it).
struct SettingsRead {
    std::optional<std::string> CommandFile;
    std::optional<std::string> InputFile;
    std::optional<int> BaudRate;
    std::optional<int> Port;
    std::optional<std::string> IPAddress;
    std::optional<std::string> FingerLogFile;
};

enum class SettingsLoad {
    Loaded,      // every value read
    ReadFailed,  // BaudRate or Port missing or not an integer; the values before it were read
    Missing,     // none of the values exists
};

// Each operation opens the store, does its one job and closes it again, so every change
// reaches the disk at once. The groups of the serial port map (link/CommPortMap) are never
// touched.
class Settings {
public:
    static constexpr int kDefaultBaudRate = 9600;
    static constexpr int kDefaultPort = 2;
    static constexpr const char* kDefaultIPAddress = "0.0.0.0";

    // Reads CommandFile, InputFile, BaudRate, Port, IPAddress, FingerLogFile in that
    // order. A missing text value reads as empty.
    SettingsLoad Load(SettingsRead& out) const;
    // Removes the six values and writes them again with their defaults.
    void WriteDefaults();
    void WriteString(const char* name, const std::string& value);
    void WriteInt(const char* name, int value);

private:
    static SettingsLoad Read(const QSettings& s, SettingsRead& out);
};
