#include "SettingsStore.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace SettingsStore {

namespace {

QSettings Open()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
}

}  // namespace

void Read(const std::function<void(const QSettings&)>& read)
{
    const QSettings settings = Open();
    read(settings);
}

void Write(const std::function<void(QSettings&)>& write)
{
    QSettings settings = Open();
    write(settings);
    settings.sync();
}

std::string Text(const QSettings& settings, const QString& key)
{
    const QVariant v = settings.value(key);
    if (!v.isValid())
        return {};
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(',')).toStdString();
    return v.toString().toStdString();
}

std::map<std::string, std::string> Group(const char* group)
{
    std::map<std::string, std::string> values;
    QSettings settings = Open();
    settings.beginGroup(QString::fromLatin1(group));
    for (const QString& key : settings.childKeys())
        values[key.toStdString()] = Text(settings, key);
    return values;
}

void SetInGroup(const char* group, const std::string& key, const std::string& text)
{
    Write([&](QSettings& settings) {
        settings.setValue(QString::fromLatin1(group) + QLatin1Char('/') + QString::fromStdString(key),
                          QString::fromStdString(text));
    });
}

}  // namespace SettingsStore
