// varnel.exe: the service tool for the RFID card sensor on Windows, with the
// dialogs on the system's own windows. A GUI program: no console of its own.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace varnel {
int RunVarnelExe();  // Application.cpp
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return varnel::RunVarnelExe(); }
