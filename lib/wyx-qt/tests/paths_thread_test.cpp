#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "uipathmanager.h"

// Readers on other threads while the registry is being written see nothing
// or the whole value; the thread checker sees any unguarded access.
TEST(UIPathManagerThreads, ReadersSeeWholeValuesWhileWritten)
{
    UIPathManager* paths = UIPathManager::getInstance();
    const QString value = QStringLiteral("/home/ü ser/.Lumora/Lumora.app");
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            while (!stop.load()) {
                const QString seen = paths->getPath(QStringLiteral("thread_key_7"));
                torn.fetch_add(!seen.isEmpty() && seen != value);
            }
        });
    for (int i = 0; i < 2000; ++i)
        paths->setPath(QStringLiteral("thread_key_%1").arg(i % 50), value);
    stop.store(true);
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(paths->getPath(QStringLiteral("thread_key_7")), value);
    EXPECT_TRUE(paths->getPath(QStringLiteral("THREAD_KEY_7")).isEmpty());  // unknown key
}
