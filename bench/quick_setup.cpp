// Product installer stand-in for the benchmark: ends at once, so that the run
// measures the package's own work.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
