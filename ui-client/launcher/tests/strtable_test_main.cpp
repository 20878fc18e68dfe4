// Entry of the string table tests: an application object (translators need
// one), the translation resource and the filled table.

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "strtable.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    Q_INIT_RESOURCE(texts);
    StrTable::InitStrTable();
    return RUN_ALL_TESTS();
}
