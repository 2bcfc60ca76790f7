#include "app/startup.h"
#include "shell/state.h"

int main(int argc, char **argv) {
    return qv::WinMain(argc, argv);
}

#ifdef _WIN32
#include <stdlib.h>
#include <windows.h>
// The windowed entry: no console appears behind the panels.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return qv::WinMain(__argc, __argv);
}
#endif
