#pragma once

#include <QApplication>

namespace marrowick {

// The one application object: it runs the main window modally and the program ends when that closes.
class CMarrowickApp final : public QApplication {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CMarrowickApp)

public:
    // argc is kept by reference for the application's whole life.
    CMarrowickApp(int& argc, char** argv);
    ~CMarrowickApp() override;

    // Returns the process's exit code, whatever the main window's result.
    int InitInstance();
};

int RunMarrowickApp(int argc, char** argv);

} // namespace marrowick
