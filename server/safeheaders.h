// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Header lines sent with every HTTP answer, each ending in CRLF. The page runs only its own
// files (no inline script), in no other site's frame, and the browser neither guesses types
// nor tells other sites where its visitors came from.
namespace SafeHeaders {

inline constexpr char LINES[] =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob: data:; "
    "connect-src 'self'; manifest-src 'self'; worker-src 'self'; form-action 'self'; base-uri 'none'; "
    "frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "X-Frame-Options: DENY\r\n"
    "Referrer-Policy: no-referrer\r\n";

} // namespace SafeHeaders
