#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Test discovery runs without the tests' environment, so the platform is chosen here too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Message boxes without a caption show the program file's name, which is "marrowick" outside the tests.
    QApplication::setApplicationName(QStringLiteral("marrowick"));
    return RUN_ALL_TESTS();
}
