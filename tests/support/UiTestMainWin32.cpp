// main() of the dialog tests on Win32: the system's controls registered, and
// a clear word when there is no display to make windows on (wine needs an X
// server: scripts/test-windows.sh starts an Xvfb).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // ctest lists the tests without a display
  HWND probe = CreateWindowW(L"Static", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!probe) {
    std::fprintf(stderr, "no display to make windows on (error %lu); under wine set DISPLAY to an X server "
                 "(scripts/test-windows.sh starts an Xvfb)\n", GetLastError());
    return 1;
  }
  DestroyWindow(probe);
  return RUN_ALL_TESTS();
}
