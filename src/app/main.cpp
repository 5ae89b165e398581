#include <windows.h>

#include "app/shell.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    return RunQuorbel(instance, commandLine, showCommand);
}
