// The per-user settings file, $XDG_CONFIG_HOME/Korvane/KX2.conf (normally
// ~/.config/Korvane/KX2.conf) in QSettings' native format, and the one place that opens it:
// the window's remembered values sit at its top level, the serial port map in the groups
// "SerialPorts" and "AutoSerialPorts". Each call opens the file, does its one job and closes
// it again, so every change reaches the disk at once and a hand edit between two calls is
// seen.
#pragma once

#include <QString>

#include <functional>
#include <map>
#include <string>

class QSettings;

namespace SettingsStore {

inline constexpr const char* kOrganization = "Korvane";
inline constexpr const char* kApplication = "KX2";

// Lets `read` look at the file.
void Read(const std::function<void(const QSettings&)>& read);
// Lets `write` change the file, then writes it to disk.
void Write(const std::function<void(QSettings&)>& write);

// A value as text, empty when it is missing. A hand-edited value with a comma, which the
// file hands back as a list, is joined again.
std::string Text(const QSettings& settings, const QString& key);

// The keys of one group with their values as text.
std::map<std::string, std::string> Group(const char* group);
// Sets one value of a group and writes it to disk.
void SetInGroup(const char* group, const std::string& key, const std::string& text);

}  // namespace SettingsStore
