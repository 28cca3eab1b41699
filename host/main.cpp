// tessera-host: the native-messaging host a browser extension starts. Its
// arguments are not read here; on Windows the dialog module reads the one
// it uses, the browser's --parent-window, itself.
#include "TesseraHost.h"

int main()
{
    return wmain();
}
