#include "run/com_apartment.h"

ComApartment enterComApartment()
{
    const HRESULT result =
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // S_FALSE: already a member; that too is left once.
    return ComApartment(SUCCEEDED(result) ? 1 : 0);
}
