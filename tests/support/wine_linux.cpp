// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

bool TestSupport::underWine()
{
    return false;
}
