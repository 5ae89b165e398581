#include <windows.h>

#include "app/run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int showCommand) {
    return RunQuorbel(commandLine, showCommand);
}
