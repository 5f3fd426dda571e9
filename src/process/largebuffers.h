// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes the allocator hand buffers of a mebibyte and more straight back to the system when
// they are freed. A photo passes through several of tens of MiB (the body, the decoded picture,
// its scaled copy); with glibc's sliding threshold they end up in the heap, and the peak of three
// photos on screen would stay resident for as long as the tray program runs.
void releaseLargeBuffersToSystem();

// Gives the pages that freed memory left in the allocator's arenas back to the system; worth it
// once a burst of photos is over, since the program then idles for hours.
void releaseFreedMemoryToSystem();
