#include "gui/app/MarrowickApp.h"

int main(int argc, char* argv[]) {
    return marrowick::RunMarrowickApp(argc, argv);
}
