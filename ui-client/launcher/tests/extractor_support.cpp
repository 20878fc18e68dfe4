// Entry of the extractor and installation tests: a temporary home, the
// string table and a log file at debug level.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

#include "extractor_support.h"
#include "log.h"
#include "strtable.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    using namespace extractor_test;
    g_root = QFile::encodeName(root.path()).toStdString();
    g_log = g_root + "/test.log";
    setenv("HOME", (g_root + "/home").c_str(), 1);
    if (!root.isValid() || !WriteText(g_root + "/levels", "extractor_debug=7\nservice_debug=7\nfile_op_debug=4\n") ||
        Logger::Initialize(Logger::LOG_TYPE_FILE, g_log, g_root + "/levels", 50, Logger::SAFETY_THREAD) != 0)
        return 2;
    StrTable::InitStrTable();
    const int result = RUN_ALL_TESTS();
    Logger::Destroy();
    return result;
}
