// A GUI program that imports bcrypt.dll, as Updater.exe once did: the build's import
// check must refuse it.
#include <windows.h>

#include <bcrypt.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    UCHAR byte = 0;
    return BCryptGenRandom(nullptr, &byte, 1, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
}
