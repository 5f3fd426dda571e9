// SPDX-License-Identifier: GPL-3.0-or-later
#include "process/largebuffers.h"

#include <QtGlobal>

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif

void releaseLargeBuffersToSystem()
{
#ifdef __GLIBC__
    constexpr int LARGE_BUFFER_BYTES = 1024 * 1024;
    if (mallopt(M_MMAP_THRESHOLD, LARGE_BUFFER_BYTES) != 1)
        qWarning("Seuil d'allocation des grands tampons refusé par la bibliothèque C.");
#endif
}

void releaseFreedMemoryToSystem()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
