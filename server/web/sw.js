// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the page's own files for a weak connection and receives pictures shared from the
// phone's gallery. Pictures, uploads and answers are never stored.
"use strict";

const CACHE = "glimdeck-page-v1";
const PAGE_FILES = ["/", "/upload.css", "/upload.js", "/manifest.webmanifest", "/icon-192.png", "/icon-512.png"];

// The last picture shared, until the page it opens asks for it.
let shared = null;

self.addEventListener("install", event => {
    event.waitUntil(caches.open(CACHE).then(cache => cache.addAll(PAGE_FILES)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", event => {
    event.waitUntil(caches.keys()
                        .then(names => Promise.all(names.filter(name => name !== CACHE).map(name => caches.delete(name))))
                        .then(() => self.clients.claim()));
});

// Fresh from the server when it answers, from the cache when it does not.
async function pageFile(request) {
    const cache = await caches.open(CACHE);
    try {
        const response = await fetch(request);
        if (response.ok)
            await cache.put(new URL(request.url).pathname, response.clone()); // one entry per file
        return response;
    } catch (error) {
        const kept = await cache.match(request, { ignoreSearch: true });
        if (kept)
            return kept;
        throw error;
    }
}

async function receiveShare(request) {
    const form = await request.formData();
    const picture = form.get("picture");
    shared = picture instanceof File ? picture : null;
    return Response.redirect("/?partage", 303);
}

self.addEventListener("fetch", event => {
    const url = new URL(event.request.url);
    if (url.origin !== self.location.origin)
        return;
    if (event.request.method === "POST" && url.pathname === "@SHARE_PATH@")
        event.respondWith(receiveShare(event.request));
    else if (event.request.method === "GET" && PAGE_FILES.includes(url.pathname))
        event.respondWith(pageFile(event.request));
});

self.addEventListener("message", event => {
    if (event.data !== "partage")
        return;
    event.source.postMessage({ picture: shared });
    shared = null;
});
