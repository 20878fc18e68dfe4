// Process-wide registry of named paths.
#pragma once

#include <QHash>
#include <QString>

#include <shared_mutex>

// Start-up stores every path once; both threads read them afterwards. The
// registry takes a read-write lock anyway, so a late writer cannot corrupt it.
class UIPathManager {
public:
    static UIPathManager* getInstance();

    void setPath(const QString& key, const QString& value);

    // The value stored under key, or an empty string for a key never stored.
    QString getPath(const QString& key) const;

private:
    UIPathManager() = default;
    UIPathManager(const UIPathManager&) = delete;
    UIPathManager& operator=(const UIPathManager&) = delete;

    mutable std::shared_mutex m_lock;
    QHash<QString, QString> m_paths;
};
