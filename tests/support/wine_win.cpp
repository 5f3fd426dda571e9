// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include <windows.h>

// Wine's ntdll exports its version; Windows' does not.
bool TestSupport::underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
