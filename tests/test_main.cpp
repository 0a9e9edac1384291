#include "common/application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    wavrell::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wavrell"));
    return RUN_ALL_TESTS();
}
