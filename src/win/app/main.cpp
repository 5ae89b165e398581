#include <windows.h>

#include "win/app/run.h"
#include "crypto/crypto.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int showCommand) {
    // Before any thread: libgcrypt is started once, here. An older library
    // than the one linked cannot happen with the static one; the copies
    // that compare hashes then simply start over.
    quorbel::crypto::Start();
    return RunQuorbel(commandLine, showCommand);
}
