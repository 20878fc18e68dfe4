#include <gtest/gtest.h>

#include "uipathmanager.h"

namespace {

TEST(UIPathManager, StoresPathsByKey)
{
    UIPathManager* paths = UIPathManager::getInstance();
    ASSERT_NE(paths, nullptr);
    EXPECT_EQ(paths, UIPathManager::getInstance());

    EXPECT_TRUE(paths->getPath(QStringLiteral("paths_test_never_stored")).isEmpty());
    EXPECT_TRUE(paths->getPath(QString()).isEmpty());

    paths->setPath(QStringLiteral("paths_test_key"), QStringLiteral("/home/ü ser/.Lumora"));
    EXPECT_EQ(paths->getPath(QStringLiteral("paths_test_key")), QStringLiteral("/home/ü ser/.Lumora"));
    // Keys are case-sensitive, and a second store replaces the first.
    EXPECT_TRUE(paths->getPath(QStringLiteral("PATHS_TEST_KEY")).isEmpty());
    paths->setPath(QStringLiteral("paths_test_key"), QStringLiteral("/other"));
    EXPECT_EQ(paths->getPath(QStringLiteral("paths_test_key")), QStringLiteral("/other"));
}

}  // namespace
