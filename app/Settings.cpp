#include "Settings.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {

const char* const kValueNames[] = {"CommandFile", "InputFile", "BaudRate", "Port", "IPAddress", "FingerLogFile"};

QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, Settings::kOrganization, Settings::kApplication);
}

std::string ReadText(const QSettings& s, const char* name)
{
    QVariant v = s.value(name);
    if (!v.isValid())
        return {};
    // A hand-edited value with a comma comes back from the INI store as a list.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(',')).toStdString();
    return v.toString().toStdString();
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
    QSettings s = Store();
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
    QSettings s = Store();
    for (const char* name : kValueNames)
        s.remove(name);
    s.setValue("CommandFile", QString());
    s.setValue("InputFile", QString());
    s.setValue("BaudRate", kDefaultBaudRate);
    s.setValue("Port", kDefaultPort);
    s.setValue("IPAddress", QString::fromLatin1(kDefaultIPAddress));
    s.setValue("FingerLogFile", QString());
    s.sync();
}

void Settings::WriteString(const char* name, const std::string& value)
{
    QSettings s = Store();
    s.setValue(name, QString::fromStdString(value));
    s.sync();
}

void Settings::WriteInt(const char* name, int value)
{
    QSettings s = Store();
    s.setValue(name, value);
    s.sync();
}
