#include "uipathmanager.h"

#include <mutex>

UIPathManager* UIPathManager::getInstance()
{
    static UIPathManager instance;
    return &instance;
}

void UIPathManager::setPath(const QString& key, const QString& value)
{
    std::unique_lock<std::shared_mutex> locker(m_lock);
    m_paths.insert(key, value);
}

QString UIPathManager::getPath(const QString& key) const
{
    std::shared_lock<std::shared_mutex> locker(m_lock);
    return m_paths.value(key);
}
