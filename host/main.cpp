// tessera-host: the native-messaging host a browser extension starts. Its
// arguments (the caller's origin) are not used.
#include "TesseraHost.h"

int main()
{
    return wmain();
}
