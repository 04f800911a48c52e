// Stand-in process for the process-check tests: copied under the image name a
// test needs (jqs.exe, chrome.exe, javaw.exe ...) and started with any command
// line; it only waits until it is ended (or a minute has passed).
#include <windows.h>

int main() {
  Sleep(60 * 1000);
  return 0;
}
