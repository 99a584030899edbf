#pragma once
// A key-value store of user settings, keys used verbatim ("VellumtideBridge.previewLevel").
// Production stores an INI file with mode 0600; tests use the in-memory store.

#include <QSettings>
#include <QString>
#include <QVariant>
#include <map>
#include <memory>
#include <optional>

namespace vt {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<QVariant> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;
};

class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

private:
    std::map<QString, QVariant> values;
};

// Settings in one INI file; every change is written through at once and the file kept at 0600.
class IniSettingsStore final : public SettingsStore {
public:
    explicit IniSettingsStore(const QString& filePath);
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

private:
    void persist();
    std::unique_ptr<QSettings> settings;
};

} // namespace vt
