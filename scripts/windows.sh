#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-builds Glim-deck for 64-bit Windows and runs its tests under Wine.
#
#   scripts/windows.sh [qt|build|test|run|all] [-DSETTING=VALUE ...]     (default: all)
#
#   qt     builds Qt 6.4.2 for x86_64-w64-mingw32 into the cache (only what is missing there)
#   build  qt, then Glim-deck and its tests into build-windows/, and deploys glimdeck.exe with the
#          DLLs and plugins it needs into build-windows/deploy/
#   test   build, then every test of the Windows build under wine64, on a private Xvfb with
#          trayer and in a private Wine prefix
#   run    build, then the deployed glimdeck.exe under Wine against the Linux glimdeck-server
#          (build/server/, from scripts/test.sh): connection, tray icon, one photo, a screenshot
#          (GLIMDECK_WINDOWS_SHOT=FILE says where)
#   all    build, test and run
#
# The Qt build lives outside the repository, in GLIMDECK_WINDOWS_CACHE (default
# ${XDG_CACHE_HOME:-$HOME/.cache}/glimdeck-windows), and is reused while it is there: only the
# first run pays for Qt. Heavy steps run under nice/ionice so the machine stays usable.
# Extra arguments after the step go to Glim-deck's CMake configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
# shellcheck source=scripts/lib.sh
source scripts/lib.sh
STEP=${1:-all}
[ $# -eq 0 ] || shift

QT_VERSION=6.4.2
TRIPLE=x86_64-w64-mingw32
CACHE=${GLIMDECK_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/glimdeck-windows}
QT_SOURCES=${GLIMDECK_QT_SOURCES:-$ROOT/../shared/third-party/qt}
QT_PREFIX=$CACHE/qt-$QT_VERSION-$TRIPLE
TOOLCHAIN=$ROOT/cmake/MingwW64Toolchain.cmake
BUILD=${GLIMDECK_WINDOWS_BUILD:-$ROOT/build-windows}
JOBS=${GLIMDECK_WINDOWS_JOBS:-2}
WINE=${GLIMDECK_WINE:-/usr/lib/wine/wine64}
HOST_CMAKE_DIR=/usr/lib/$(uname -m)-linux-gnu/cmake

PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev cmake ninja-build perl xz-utils
    qt6-base-dev qt6-base-dev-tools qt6-declarative-dev openssl curl iproute2
    xvfb xauth trayer x11-utils xdotool imagemagick)

BUILT_BEFORE=
heavy() { nice -n 19 ionice -c3 "$@"; }
log() { echo "windows.sh: $*"; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
    local missing=() package
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    log "installing ${missing[*]}"
    as_root apt-get -o DPkg::Lock::Timeout=600 update -qq
    # Wine's packages would not start services, but stay as careful as scripts/setup.sh.
    local no_services='' status=0
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' | as_root tee /usr/sbin/policy-rc.d >/dev/null
        as_root chmod 755 /usr/sbin/policy-rc.d
        no_services=1
    fi
    DEBIAN_FRONTEND=noninteractive as_root apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends "${missing[@]}" || status=$?
    [ -z "$no_services" ] || as_root rm -f /usr/sbin/policy-rc.d
    return "$status"
}

# qtbase comes from Debian's own source package, the same 6.4.2 its binary packages are built from.
fetch_qtbase() {
    local sources=$CACHE/src
    [ -z "$(find "$sources" -maxdepth 1 -type d -name 'qt6-base-*' 2>/dev/null)" ] || return 0
    mkdir -p "$sources"
    local list=/etc/apt/sources.list.d/glimdeck-qtbase-src.sources
    local suite
    suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
    log "fetching Debian's qt6-base source ($suite)"
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$suite" | as_root tee "$list" >/dev/null
    local status=0
    as_root apt-get -o DPkg::Lock::Timeout=600 update -qq &&
        (cd "$sources" && apt-get source -qq qt6-base) || status=$?
    as_root rm -f "$list"
    as_root apt-get -o DPkg::Lock::Timeout=600 update -qq || true
    return "$status"
}

# Mends for building Qt 6.4.2 with Debian's mingw-w64 and without OpenGL, each applied once:
# - the network list manager plugin (network reachability) needs two names that mingw-w64 10's
#   headers lack, and the GUID library, which its MSVC build gets implicitly;
# - the Windows platform plugin asks for dynamic OpenGL, which stays set with OpenGL off, and
#   for the DirectWrite font database, which Qt Gui builds only with Direct2D.
patch_qtbase() {
    local plugin=$1/src/plugins/networkinformation/networklistmanager
    local window=$1/src/plugins/platforms/windows/qwindowswindow.cpp
    local integration=$1/src/plugins/platforms/windows/qwindowsintegration.cpp
    grep -q 'absent from mingw-w64' "$plugin/qnetworklistmanagerevents.cpp" ||
        sed -i '/^#include "qnetworklistmanagerevents.h"$/a\
\
#ifndef NA_InternetConnectivityV4 // absent from mingw-w64 10\
#define NA_InternetConnectivityV4 L"NA_InternetConnectivityV4"\
#define NA_InternetConnectivityV6 L"NA_InternetConnectivityV6"\
#endif' "$plugin/qnetworklistmanagerevents.cpp"
    grep -q 'CONDITION MINGW' "$plugin/CMakeLists.txt" ||
        printf '\nqt_internal_extend_target(QNLMNIPlugin CONDITION MINGW\n    LIBRARIES\n        uuid ole32 oleaut32\n)\n' \
            >>"$plugin/CMakeLists.txt"
    sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' "$window"
    sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' "$integration"
}

unpack_module() {
    local name=$1 archive=$QT_SOURCES/$1-$QT_VERSION.tar.xz
    [ ! -d "$CACHE/src/$name-$QT_VERSION" ] || return 0
    (cd "$QT_SOURCES" && sha256sum --check --ignore-missing --quiet SHA256SUMS)
    grep -q "$name-$QT_VERSION.tar.xz" "$QT_SOURCES/SHA256SUMS"
    mkdir -p "$CACHE/src/$name-$QT_VERSION"
    tar -xJf "$archive" -C "$CACHE/src/$name-$QT_VERSION" --strip-components=1
}

# Builds one Qt module with CMake and installs it into QT_PREFIX; a stamp marks it done.
build_module() {
    local name=$1 source=$2
    shift 2
    local stamp=$QT_PREFIX/.built-$name options
    # The stamp keeps the options it was built with, and those of the modules built before it
    # (which it links against): a module built otherwise, or on another build of those, is built
    # again.
    # shellcheck disable=SC2086 # empty before the first module
    options=$(printf '%s\n' $BUILT_BEFORE "$@" | sha256sum | cut -c1-16)
    BUILT_BEFORE=$options
    [ "$(sed -n 2p "$stamp" 2>/dev/null)" != "$options" ] || return 0
    log "building $name (log: $CACHE/$name.log)"
    local started=$SECONDS
    {
        heavy cmake -S "$source" -B "$CACHE/build-$name" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
            -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$QT_PREFIX" \
            -DCMAKE_PREFIX_PATH="$QT_PREFIX" \
            -DQT_HOST_PATH=/usr \
            -DQT_HOST_PATH_CMAKE_DIR="$HOST_CMAKE_DIR" \
            -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
            "$@" &&
            heavy cmake --build "$CACHE/build-$name" -j"$JOBS" &&
            heavy cmake --install "$CACHE/build-$name"
    } >"$CACHE/$name.log" 2>&1 || {
        tail -n 40 "$CACHE/$name.log"
        return 1
    }
    printf '%s\n%s\n' "$((SECONDS - started))" "$options" >"$stamp"
    log "$name built in $((SECONDS - started)) s"
}

# Only what Glim-deck uses: Core, Gui, Widgets, Network with Windows' own TLS (schannel), Test.
# Debian's +dfsg archive has no sqlite or wintab, so SQL and tablet input stay off (iaccessible2
# is not needed by the UI Automation bridge); so do the modules and back ends Glim-deck never loads.
QTBASE_OPTIONS=(
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++
    -DBUILD_SHARED_LIBS=ON
    -DFEATURE_sql=OFF -DFEATURE_tabletevent=OFF
    -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF
    -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF
    -DFEATURE_openssl=OFF -DFEATURE_schannel=ON
    # The network list manager's configure test fails on mingw-w64's headers; patch_qtbase mends
    # what the plugin itself needs.
    -DTEST_networklistmanager=ON -DFEATURE_networklistmanager=ON
    -DFEATURE_pkg_config=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF
    -DFEATURE_system_doubleconversion=OFF
)

# Qt TextToSpeech includes QtQmlIntegration, a header-only part of Qt Declarative holding macros
# only. Rather than cross-building Declarative, Debian's copy of the same 6.4.2 is moved into the
# Windows prefix, its paths rewritten from Debian's layout to Qt's own.
provide_qmlintegration() {
    local host_cmake=$HOST_CMAKE_DIR/Qt6QmlIntegration
    local host_include
    host_include=/usr/include/$(uname -m)-linux-gnu/qt6/QtQmlIntegration
    [ ! -e "$QT_PREFIX/lib/cmake/Qt6QmlIntegration" ] || return 0
    if [ ! -d "$host_cmake" ] || [ ! -d "$host_include" ]; then
        log "Qt TextToSpeech needs qt6-declarative-dev for its QtQmlIntegration headers"
        return 1
    fi
    cp -r "$host_include" "$QT_PREFIX/include/"
    cp -r "$host_cmake" "$QT_PREFIX/lib/cmake/"
    local file
    for file in "$QT_PREFIX"/lib/cmake/Qt6QmlIntegration/*.cmake; do
        # Debian's prefix is four levels above its cmake folder, Qt's three.
        sed -i -e "s|include/$(uname -m)-linux-gnu/qt6|include|g" \
            -e 's|/../../../../"|/../../../"|' \
            "$file"
    done
    file=$QT_PREFIX/lib/cmake/Qt6QmlIntegration/Qt6QmlIntegrationTargets.cmake
    awk '/get_filename_component\(_IMPORT_PREFIX "\$\{_IMPORT_PREFIX\}" PATH\)/ && !dropped { dropped = 1; next } 1' \
        "$file" >"$file.new"
    mv "$file.new" "$file"
}

build_qt() {
    mkdir -p "$CACHE"
    local started=$SECONDS
    fetch_qtbase
    local qtbase
    qtbase=$(find "$CACHE/src" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
    patch_qtbase "$qtbase"
    build_module qtbase "$qtbase" "${QTBASE_OPTIONS[@]}"
    unpack_module qtwebsockets
    build_module qtwebsockets "$CACHE/src/qtwebsockets-$QT_VERSION"
    provide_qmlintegration
    unpack_module qtspeech
    build_module qtspeech "$CACHE/src/qtspeech-$QT_VERSION"
    log "Qt built in $((SECONDS - started)) s"
}

# The same CMake files as the Linux build; the tests run under Wine through CTest's emulator.
# The Windows build talks to localhost:PORT and trusts an authority of its own, made here, so
# that it can be run against the Linux server; the port is kept while it stays free.
build_glimdeck() {
    local certs=$BUILD/certs
    ensure_certs "$certs" 30
    log "building Glim-deck for Windows into $BUILD"
    mkdir -p "$BUILD"
    heavy cmake -S "$ROOT" -B "$BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$QT_PREFIX" \
        -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR="$HOST_CMAKE_DIR" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE" \
        -DGLIMDECK_SERVER_HOST="localhost:$(build_port "$BUILD")" \
        -DGLIMDECK_SERVER_CA="$certs/ca.pem" \
        "$@" >"$BUILD/configure.log" 2>&1 || {
        tail -n 30 "$BUILD/configure.log"
        return 1
    }
    heavy cmake --build "$BUILD" -j"$JOBS" 2>&1 | tee "$BUILD/build.log"
    # Warnings count as failures here, as they do in review.
    if grep -q 'warning:' "$BUILD/build.log"; then
        log "the Windows build has warnings (above; log: $BUILD/build.log)"
        return 1
    fi
    log "glimdeck.exe and what it needs: $BUILD/deploy"
}

windows_path() { echo "Z:${1//\//\\}"; }

# A Wine prefix of its own for each run, so that nothing of the user's ~/.wine (registry, Run
# key, application data) is read or changed. Mono and Gecko are not installed: no .NET or web view.
# Wine 8's network list manager (netprofm) never ends IEnumNetworks::Next, which would hold Qt's
# network information back end, and with it the program, on its first call: it is left out.
wine_environment() {
    stop_wine
    export WINEPREFIX=$1 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml,netprofm="
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    heavy "$WINE" wineboot -i >"$WINEPREFIX.log" 2>&1
    # Wine drops the QT_ variables of the Linux environment; Windows programs take their own from
    # the registry. Without this one Qt Test writes its results to the debugger, not to stdout.
    "$WINE" reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >>"$WINEPREFIX.log" 2>&1
    wineserver -w
}
stop_wine() { [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true; }

# Every test that the Windows build has, under Wine on a display of its own (Xvfb and trayer).
run_tests() {
    local runtime
    runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
    wine_environment "$BUILD/wine/tests"
    trap stop_wine EXIT
    # The tests load Qt from its prefix; its plugins are found beside Qt6Core.dll.
    WINEPATH="$(windows_path "$QT_PREFIX/bin");$(windows_path "$runtime");$(windows_path /usr/$TRIPLE/lib)"
    export WINEPATH
    log "running the tests under $("$WINE" --version) (prefix: $WINEPREFIX)"
    heavy scripts/with-display.sh ctest --test-dir "$BUILD" --output-on-failure --timeout 900
}

# glimdeck.exe from the deployed folder alone (no WINEPATH) against the Linux glimdeck-server:
# it must connect, show its icon in the notification area and one photo over the whole screen.
run_program() {
    local server=$ROOT/build/server/glimdeck-server certs=$BUILD/certs work=$BUILD/wine/program
    if [ ! -x "$server" ]; then
        log "needs the Linux server: run scripts/test.sh first (it builds $server)"
        return 1
    fi
    local port
    port=$(configured_port "$BUILD")
    port_is_free "$port" || { log "port $port is taken: run scripts/windows.sh build again"; return 1; }
    wine_environment "$work/prefix"
    trap 'stop_wine; [ -z "${server_pid:-}" ] || kill "$server_pid" 2>/dev/null || true' EXIT
    local rooms
    rooms="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/glimdeck/rooms.json"
    mkdir -p "$(dirname "$rooms")"
    printf '["demo"]' >"$rooms"
    (umask 077 && openssl rand -hex 16 >"$work/upload.key")
    # The server sends its authority along: Wine's schannel cannot load the authorities a program
    # trusts into a store of their own (its PKCS #12 import wants a private key), so Qt finds the
    # trusted one only in the chain the server sends, still checked against the embedded authority.
    cat "$certs/server.pem" "$certs/ca.pem" >"$work/chain.pem"
    "$server" --cert "$work/chain.pem" --key "$certs/server.key" --port "$port" --listen 127.0.0.1 \
        --storage "$work/storage" --upload-key-file "$work/upload.key" >"$work/server.log" 2>&1 &
    server_pid=$!
    GLIMDECK_WINDOWS_PORT=$port GLIMDECK_WINDOWS_WORK=$work scripts/with-display.sh bash "$ROOT/scripts/windows.sh" show-photo
}

# Inside the display: start the program, wait for its subscription, check the tray icon, send a
# photo and watch the centre of the screen while it shows.
show_photo() {
    local port=$GLIMDECK_WINDOWS_PORT work=$GLIMDECK_WINDOWS_WORK
    local shot=${GLIMDECK_WINDOWS_SHOT:-$work/photo-on-screen.png}
    local width height
    read -r width height < <(xdpyinfo | sed -n 's/^ *dimensions: *\([0-9]*\)x\([0-9]*\) .*/\1 \2/p')
    "$WINE" "$BUILD/deploy/glimdeck.exe" >"$work/glimdeck.log" 2>&1 &
    wait_for 120 grep -q '"demo"' "$work/server.log" || { log "glimdeck.exe did not subscribe (log: $work/glimdeck.log)"; return 1; }
    log "connected: $(grep -m1 'Abonnement' "$work/server.log")"
    # The connected icon is a green disc, in trayer's strip along the top edge.
    wait_for 30 has_colour "$width" 24 0 0 '#2ECC40' || { import -window root "$work/no-tray-icon.png"; log "no green tray icon in the notification area (screen: $work/no-tray-icon.png)"; return 1; }
    log "the tray icon is in the notification area"
    curl -sS --cacert "$BUILD/certs/ca.pem" -F key="$(cat "$work/upload.key")" -F room=demo -F message=Bonjour \
        -F picture=@"$ROOT/tests/data/photo-red.png" -o /dev/null "https://localhost:$port/upload"
    local centre_x=$((width / 2)) centre_y=$((height / 2))
    wait_for 10 has_colour 1 1 "$centre_x" "$centre_y" '#DC1E1E' || { log "the photo did not show"; return 1; }
    local shown=$SECONDS
    import -window root "$shot"
    log "photo over the whole screen; screenshot: $shot"
    # Edge to edge: this 4:3 photo, red in a white frame, fills the screen's width (a 5:4 screen
    # leaves black bands above and below).
    has_colour 1 1 2 "$centre_y" '#FFFFFF' || { log "the photo does not reach the left edge"; return 1; }
    has_colour 1 1 $((width - 3)) "$centre_y" '#FFFFFF' || { log "the photo does not reach the right edge"; return 1; }
    wait_for 10 not has_colour 1 1 "$centre_x" "$centre_y" '#DC1E1E'
    log "the photo went after about $((SECONDS - shown)) s"
}

# Whether the region WIDTHxHEIGHT+X+Y of the screen holds a pixel of the colour. grep reads to
# the end: with -q it would stop at the first match, and convert's broken pipe would fail the
# pipeline under pipefail.
has_colour() {
    import -window root png:- 2>/dev/null | convert - -crop "$1x$2+$3+$4" +repage txt:- | grep -i "$5" >/dev/null
}
# shellcheck disable=SC2317 # called through wait_for
not() { ! "$@"; }
wait_for() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 5))); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}

main() {
    case "$STEP" in
    qt | build | test | run | all) ;;
    show-photo)
        show_photo
        return
        ;;
    *)
        echo "usage: scripts/windows.sh [qt|build|test|run|all] [-DSETTING=VALUE ...]" >&2
        return 2
        ;;
    esac
    install_packages
    build_qt
    [ "$STEP" != qt ] || return 0
    build_glimdeck "$@"
    case "$STEP" in
    test) run_tests ;;
    run) run_program ;;
    all) run_tests && run_program ;;
    esac
}

# On one line, so that editing this file while it runs cannot change what runs.
main "$@"; exit
