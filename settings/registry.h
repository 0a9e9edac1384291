#pragma once

#include "common/errors.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace wavrell {

/// A registry operation that cannot be carried out (a key that cannot be
/// written, a value of another type, ...).
WAVRELL_DECLARE_ERROR(ERegistryError);

/// The two stores of keys: per user ($XDG_CONFIG_HOME) and machine-wide
/// (the first folder of $XDG_CONFIG_DIRS).
enum class RegistryRoot { CurrentUser, LocalMachine };

/// Registry accessor: keys are paths like "\Software\OstrelData\Wavrell",
/// always taken from the root (the leading "\" is optional, empty parts are
/// skipped) and compared without regard to letter case;
/// a key holds named string and 32-bit integer values and sub-keys. The
/// stores live in ini files below the XDG config folders; a store that
/// cannot be written fails like a registry without rights, and so does the
/// machine-wide store for anyone but an administrator (root). One key is
/// open at a time. GUI thread.
class TRegistry {
public:
    explicit TRegistry(RegistryRoot root = RegistryRoot::CurrentUser);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    RegistryRoot RootKey() const;
    void setRootKey(RegistryRoot root);

    /// Opens a key for reading and writing; with cancreate missing keys are
    /// created. False when the key is missing (and not created) or the store
    /// cannot be written.
    bool OpenKey(const QString& key, bool cancreate);
    /// Opens an existing key for reading only; false when it is missing.
    bool OpenKeyReadOnly(const QString& key);
    void CloseKey();
    /// True when the key exists (open or not).
    bool KeyExists(const QString& key) const;

    bool ValueExists(const QString& name) const;
    /// ERegistryError when the value is missing or not a string.
    QString ReadString(const QString& name) const;
    /// ERegistryError when the value is missing or not an integer.
    int32_t ReadInteger(const QString& name) const;
    /// ERegistryError when no key is open for writing or the store cannot
    /// be written.
    void WriteString(const QString& name, const QString& value);
    void WriteInteger(const QString& name, int32_t value);
    bool DeleteValue(const QString& name);
    /// Deletes a key with everything below it (path relative to the root).
    bool DeleteKey(const QString& key);
    /// Names of the values / sub-keys of the open key, in stored order.
    QStringList GetValueNames() const;
    QStringList GetKeyNames() const;

    /// The open key's path without the leading "\" (empty: the root or no
    /// key open) and whether a key is open.
    QString CurrentPath() const;
    bool HasOpenKey() const;
    /// The ini file that holds a store: wavrell-registry.ini in
    /// $XDG_CONFIG_HOME (user) or the first of $XDG_CONFIG_DIRS (machine);
    /// empty when the folder cannot be determined.
    static QString StoreFileName(RegistryRoot root);

private:
    struct Impl;
    Impl* d;
};

}  // namespace wavrell
