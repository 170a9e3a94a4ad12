// The smallest Windows program built as the updater is (static runtime,
// stripped): the baseline of the updater's file size in bench/run.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
