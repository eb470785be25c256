#include <windows.h>

#include "win/StartUp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return velmora::StartUp();
}
