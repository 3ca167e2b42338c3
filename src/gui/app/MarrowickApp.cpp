#include "gui/app/MarrowickApp.h"

#include "gui/app/MarrowickDlg.h"

#include <QIcon>

namespace marrowick {

CMarrowickApp::CMarrowickApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("marrowick"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
}

CMarrowickApp::~CMarrowickApp() = default;

int CMarrowickApp::InitInstance() {
    CMarrowickDlg dialog;
    dialog.exec();
    return 0;
}

int RunMarrowickApp(int argc, char** argv) {
    CMarrowickApp app(argc, argv);
    return app.InitInstance();
}

} // namespace marrowick
