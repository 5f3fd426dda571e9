// SPDX-License-Identifier: GPL-3.0-or-later
// Improves the plain form: preview, a smaller picture without camera metadata, progress, the
// answer in the page, the group (and, if asked, the key) kept for the next photo, and pictures
// shared from the phone's gallery. Without this script the form posts as it is.
"use strict";

// The largest picture the server keeps, either way up, and the quality it keeps photos at: the
// phone sends no more than that.
const LONG_SIDE = @MAX_WIDTH@;
const SHORT_SIDE = @MAX_HEIGHT@;
const JPEG_QUALITY = @JPEG_QUALITY@ / 100;

const form = document.getElementById("upload");
const room = document.getElementById("room");
const picture = document.getElementById("picture");
const preview = document.getElementById("preview");
const key = document.getElementById("key");
const rememberKey = document.getElementById("remember-key");
const send = document.getElementById("send");
const progress = document.getElementById("progress");
const answer = document.getElementById("answer");

// Plain words for refusals whose answer did not come from the server itself (nginx, a proxy).
const REFUSALS = {
    403: "Clé d'envoi refusée.",
    413: "Image trop volumineuse pour le serveur.",
    415: "Ce fichier n'est pas une image lisible.",
    429: "Trop d'envois depuis votre adresse ; réessayez dans une minute.",
};

function remembered(name) {
    try {
        return localStorage.getItem(name);
    } catch (error) {
        return null; // storage refused (private browsing): nothing is remembered
    }
}

function remember(name, value) {
    try {
        if (value === null)
            localStorage.removeItem(name);
        else
            localStorage.setItem(name, value);
    } catch (error) {
        // storage refused: the next photo asks again
    }
}

function restoreFields() {
    room.value = remembered("glimdeck.room") || "";
    const savedKey = remembered("glimdeck.key");
    rememberKey.checked = savedKey !== null;
    key.value = savedKey || "";
    document.getElementById("remember-row").hidden = false;
}

function keepFields() {
    remember("glimdeck.room", room.value.trim());
    remember("glimdeck.key", rememberKey.checked ? key.value : null);
}

function showAnswer(text, isError) {
    answer.textContent = text;
    answer.classList.toggle("error", isError);
}

function showPreview() {
    if (preview.src)
        URL.revokeObjectURL(preview.src);
    const file = picture.files[0];
    preview.hidden = !file;
    if (file)
        preview.src = URL.createObjectURL(file);
    else
        preview.removeAttribute("src");
    showAnswer("", false);
}

// The picture as it will leave the phone: turned upright, at most LONG_SIDE x SHORT_SIDE, and
// encoded again, which leaves the camera's metadata and position behind. A picture the browser
// cannot read goes as it is, and the server decides.
async function outgoingPicture(file) {
    let bitmap;
    try {
        bitmap = await createImageBitmap(file, { imageOrientation: "from-image" });
    } catch (error) {
        return file;
    }
    const landscape = bitmap.width >= bitmap.height;
    const scale = Math.min(1, (landscape ? LONG_SIDE : SHORT_SIDE) / bitmap.width,
                           (landscape ? SHORT_SIDE : LONG_SIDE) / bitmap.height);
    const canvas = document.createElement("canvas");
    canvas.width = Math.max(1, Math.round(bitmap.width * scale));
    canvas.height = Math.max(1, Math.round(bitmap.height * scale));
    canvas.getContext("2d").drawImage(bitmap, 0, 0, canvas.width, canvas.height);
    bitmap.close();
    // Formats that may hold transparency stay lossless, as the server keeps them.
    const lossless = /^image\/(png|gif|webp)$/.test(file.type);
    const type = lossless ? "image/png" : "image/jpeg";
    const blob = await new Promise(resolve => canvas.toBlob(resolve, type, JPEG_QUALITY));
    if (!blob)
        return file;
    const name = (file.name || "image").replace(/\.[^.]*$/, "") + (lossless ? ".png" : ".jpg");
    return new File([blob], name, { type });
}

function answerText(request) {
    const type = request.getResponseHeader("Content-Type") || "";
    if (type.startsWith("text/html")) {
        const page = new DOMParser().parseFromString(request.responseText, "text/html");
        const said = page.querySelector(".answer");
        if (said)
            return said.textContent;
    } else if (type.startsWith("text/plain") && request.responseText.trim()) {
        return request.responseText.trim();
    }
    return REFUSALS[request.status] || "L'envoi a échoué (erreur " + request.status + ").";
}

function post(body) {
    const request = new XMLHttpRequest();
    request.open("POST", form.action);
    request.upload.addEventListener("progress", event => {
        if (event.lengthComputable)
            progress.value = (100 * event.loaded) / event.total;
    });
    request.addEventListener("load", () => {
        progress.value = progress.max;
        finish(answerText(request), request.status !== 200);
    });
    request.addEventListener("error", () =>
        finish("Le serveur ne répond pas ; vérifiez la connexion et réessayez.", true));
    request.send(body);
}

function finish(text, isError) {
    send.disabled = false;
    showAnswer(text, isError);
    if (!isError) {
        picture.value = "";
        showPreview();
        showAnswer(text, false);
    }
}

async function onSubmit(event) {
    event.preventDefault();
    if (!form.reportValidity())
        return;
    keepFields();
    send.disabled = true;
    progress.value = 0;
    progress.hidden = false;
    showAnswer("Préparation de l'image…", false);
    const body = new FormData(form);
    body.set("picture", await outgoingPicture(picture.files[0]));
    showAnswer("Envoi en cours…", false);
    post(body);
}

// A picture shared from the gallery: the service worker took it from the share and hands it over.
function takeSharedPicture() {
    if (!new URLSearchParams(location.search).has("partage"))
        return;
    history.replaceState(null, "", "/");
    const worker = navigator.serviceWorker && navigator.serviceWorker.controller;
    if (!worker) {
        showAnswer("L'image partagée n'est pas arrivée : choisissez-la ici.", true);
        return;
    }
    navigator.serviceWorker.addEventListener("message", event => {
        const shared = event.data && event.data.picture;
        if (!(shared instanceof File)) {
            showAnswer("L'image partagée n'est pas arrivée : choisissez-la ici.", true);
            return;
        }
        const files = new DataTransfer();
        files.items.add(shared);
        picture.files = files.files;
        showPreview();
        (room.value ? send : room).focus();
    }, { once: true });
    worker.postMessage("partage");
}

restoreFields();
picture.addEventListener("change", showPreview);
preview.addEventListener("error", () => (preview.hidden = true)); // not a picture the browser can show
form.addEventListener("submit", onSubmit);
if ("serviceWorker" in navigator)
    navigator.serviceWorker.register("/sw.js").catch(() => {}); // the page works without it
takeSharedPicture();
