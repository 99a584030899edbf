#include "Platform/Core/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vt {

std::optional<QVariant> MemorySettingsStore::value(const QString& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional(it->second);
}

void MemorySettingsStore::setValue(const QString& key, const QVariant& value) {
    values[key] = value;
}

void MemorySettingsStore::remove(const QString& key) {
    values.erase(key);
}

IniSettingsStore::IniSettingsStore(const QString& filePath)
    : settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    // Create the file user-only before anything is written, so a token never sits in a
    // world-readable file; QSettings keeps the permissions of the file it replaces.
    QFile file(filePath);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.close();
    QFile::setPermissions(filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

std::optional<QVariant> IniSettingsStore::value(const QString& key) const {
    if (!settings->contains(key))
        return std::nullopt;
    return settings->value(key);
}

void IniSettingsStore::setValue(const QString& key, const QVariant& value) {
    settings->setValue(key, value);
    persist();
}

void IniSettingsStore::remove(const QString& key) {
    settings->remove(key);
    persist();
}

void IniSettingsStore::persist() {
    settings->sync();
    QFile::setPermissions(settings->fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace vt
