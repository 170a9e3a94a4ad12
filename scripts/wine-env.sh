# Sourced by scripts/test and scripts/demo: the build folder and its own Wine prefix.
# Usage: source scripts/wine-env.sh; then wine_prefix_ready, wine_server_start, wine_server_stop.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VLRN_BUILD_DIR:-$root/build}"

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installers in a new prefix
export LC_ALL=C.UTF-8 LANG=C.UTF-8 TZ=UTC
unset DISPLAY                               # windows go to the prefix's null display driver

configure_and_build() {
  "$root/scripts/setup"
  if [ ! -f "$build/build.ninja" ]; then
    (cd "$root" && cmake --preset default -B "$build" >/dev/null)
  fi
  cmake --build "$build"
}

# A prefix per build folder, set up once: Windows 10, headless windows.
wine_prefix_create() {
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1 || { echo "wine: wineboot failed ($?)"; return 1; }
  wineserver -w
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ||
    { echo "wine: setting the null display driver failed ($?)"; return 1; }
  wine winecfg /v win10 >/dev/null 2>&1 || { echo "wine: choosing Windows 10 failed ($?)"; return 1; }
  wineserver -w
}

wine_prefix_ready() {
  [ -f "$WINEPREFIX/.vlrn-ready" ] && return
  echo "wine: creating the test prefix in $WINEPREFIX"
  # On a busy machine this failed once half-way through a CI run; a second
  # attempt in a clean folder is made before giving up.
  if ! wine_prefix_create; then
    wineserver -k 2>/dev/null || true
    echo "wine: trying once more"
    wine_prefix_create || return 1
  fi
  touch "$WINEPREFIX/.vlrn-ready"
}

# The fonts a user's Windows has for the dialog, in $WINEPREFIX. This Wine
# registers the fonts of its own data folder only when they are in the
# prefix's Fonts folder: without them the dialog font ("MS Shell Dlg", which
# Wine maps to Tahoma) falls back to any font and the caption buttons show
# Marlett's letters. Tahoma has no Japanese glyphs; IPA Gothic
# (fonts-ipafont-gothic) linked behind it makes Japanese texts render
# instead of boxes. Bold text looks the link up under the bold face's own name.
wine_prefix_user_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" font face
  mkdir -p "$fonts"
  for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    [ -f "/usr/share/wine/fonts/$font" ] && cp -u "/usr/share/wine/fonts/$font" "$fonts/"
  done
  for face in Tahoma 'Tahoma Bold' 'MS Shell Dlg' 'MS Shell Dlg 2' 'MS UI Gothic'; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f >/dev/null 2>&1 || return 1
  done
}

# Makes $WINEPREFIX draw at dpi (96 is 100 %, 144 150 %, 192 200 %). Wine reads
# the value when its server starts: the prefix's server is stopped first, and
# the one the values are written with is let end by itself (it saves the
# registry then); the next wine process starts one that draws at dpi.
wine_prefix_dpi() {
  local dpi=$1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 &&
    wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
      /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || return 1
  wineserver -w 2>/dev/null || true
}

# A persistent server makes each wine process start in a fraction of a second.
# A program that starts the prefix's services or its desktop process (the first
# one to make a window) passes its output pipes on to them. They outlive it, the
# desktop for as long as any program has a window, and ctest then waits for that
# test until its time limit although it has passed. So both are started here with
# no output to inherit: the services by a throwaway program, the desktop by a
# hidden window held until the server stops.
wine_server_start() {
  wineserver -p 2>/dev/null || true   # one may already serve this prefix
  trap wine_server_stop EXIT
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  if [ -f "$build/bin/desktop_keeper.exe" ]; then
    wine "$build/bin/desktop_keeper.exe" >/dev/null 2>&1 </dev/null &   # one per prefix
  fi
}

wine_server_stop() {
  wineserver -k 2>/dev/null || true
}
