// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

// Wine runs Windows programs only.
bool TestSupport::underWine()
{
    return false;
}
