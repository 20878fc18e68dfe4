#include <QString>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "uipathmanager.h"

namespace {

// Readers on other threads while the registry is still being written must
// see either nothing or the whole value.
TEST(UIPathManagerThreads, ReadersSeeWholeValuesWhileWritten)
{
    UIPathManager* paths = UIPathManager::getInstance();
    const QString value = QStringLiteral("/home/user/.Lumora/Lumora.app");
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const QString seen = paths->getPath(QStringLiteral("thread_key_7"));
                if (!seen.isEmpty() && seen != value)
                    torn.fetch_add(1);
            }
        });
    }
    for (int i = 0; i < 2000; ++i)
        paths->setPath(QStringLiteral("thread_key_%1").arg(i % 50), value);
    stop.store(true);
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(paths->getPath(QStringLiteral("thread_key_7")), value);
}

}  // namespace
