#include "Settings.h"

#include "core/SettingsStore.h"

#include <QSettings>
#include <QVariant>

namespace {

const char* const kValueNames[] = {"CommandFile", "InputFile", "BaudRate", "Port", "IPAddress", "FingerLogFile"};

std::string ReadText(const QSettings& s, const char* name)
{
    return SettingsStore::Text(s, QString::fromLatin1(name));
}

std::optional<int> ReadInteger(const QSettings& s, const char* name)
{
    QVariant v = s.value(name);
    if (!v.isValid())
        return std::nullopt;
    if (v.typeId() == QMetaType::Int)
        return v.toInt();
    if (v.typeId() != QMetaType::QString && v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    bool ok = false;
    int n = v.toString().trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return n;
}

}  // namespace

SettingsLoad Settings::Load(SettingsRead& out) const
{
    out = SettingsRead{};
    SettingsLoad outcome = SettingsLoad::Missing;
    SettingsStore::Read([&](const QSettings& s) { outcome = Read(s, out); });
    return outcome;
}

SettingsLoad Settings::Read(const QSettings& s, SettingsRead& out)
{
    bool any = false;
    for (const char* name : kValueNames)
        any = any || s.contains(name);
    if (!any)
        return SettingsLoad::Missing;

    out.CommandFile = ReadText(s, "CommandFile");
    out.InputFile = ReadText(s, "InputFile");
    out.BaudRate = ReadInteger(s, "BaudRate");
    if (!out.BaudRate)
        return SettingsLoad::ReadFailed;
    out.Port = ReadInteger(s, "Port");
    if (!out.Port)
        return SettingsLoad::ReadFailed;
    out.IPAddress = ReadText(s, "IPAddress");
    out.FingerLogFile = ReadText(s, "FingerLogFile");
    return SettingsLoad::Loaded;
}

void Settings::WriteDefaults()
{
    SettingsStore::Write([](QSettings& s) {
        for (const char* name : kValueNames)
            s.remove(name);
        s.setValue("CommandFile", QString());
        s.setValue("InputFile", QString());
        s.setValue("BaudRate", kDefaultBaudRate);
        s.setValue("Port", kDefaultPort);
        s.setValue("IPAddress", QString::fromLatin1(kDefaultIPAddress));
        s.setValue("FingerLogFile", QString());
    });
}

void Settings::WriteString(const char* name, const std::string& value)
{
    SettingsStore::Write([&](QSettings& s) { s.setValue(name, QString::fromStdString(value)); });
}

void Settings::WriteInt(const char* name, int value)
{
    SettingsStore::Write([&](QSettings& s) { s.setValue(name, value); });
}
