# Wine harness: sourced by the scripts that run Windows programs of this project under Wine.
#
# Each test group gets a throwaway prefix of its own under $KESTRAVA_WINE_DIR, copied from a
# template that is made once (wineboot takes ~15 s, a copy ~2 s). A group's wineserver is kept
# alive for the whole group (Debian's wrapper would start it with -p0, and consecutive commands
# would race a dying server) and stopped by prefix at the end, never by process name: other people
# run their own prefixes on this machine.
#
# KESTRAVA_WINE_ARCH chooses the Windows the programs see: win32 (default), a 32-bit Windows, or
# win64, a 64-bit one that runs them under WOW64 as most users' machines do (file system
# redirection on; Windows XP exists there only as winxp64). Each has its own template and its own
# prefix names: NAME for win32, NAME-win64 for win64, so both can live side by side.
#
# Functions:
#   kw_prefix NAME        fresh prefix $KESTRAVA_WINE_DIR/NAME (NAME-win64) from the template;
#                         exports WINEPREFIX
#   kw_template           makes the template of the architecture unless it exists
#   kw_start              starts the prefix's persistent wineserver and Wine's system processes
#   kw_stop               ends every process of the prefix and flushes its registry
#   kw_restart            kw_stop + kw_start: volatile registry keys are gone afterwards (a log-off)
#   kw_winver VERSION     Windows version the prefix reports next: winxp, vista, win7, win2k, win2003
#   kw_display            makes sure DISPLAY names a display, starting Xvfb when there is none
#   kw_display_stop       stops the Xvfb that kw_display started (if any)
#   kw_winpath PATH       Windows path (Z:\...) of a Unix path
# Variables: kw_suffix ("" or "-win64"), kw_template_dir (the template of the architecture).
# shellcheck shell=bash

kw_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${KESTRAVA_WINE_DIR:=$kw_root/build/wine}"
export KESTRAVA_WINE_DIR
: "${KESTRAVA_WINE_ARCH:=win32}"
export KESTRAVA_WINE_ARCH
case $KESTRAVA_WINE_ARCH in
  win32) kw_suffix="" ;;
  win64) kw_suffix="-win64" ;;
  *)
    echo "wine-harness: KESTRAVA_WINE_ARCH must be win32 or win64, not $KESTRAVA_WINE_ARCH" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac
export WINEARCH=$KESTRAVA_WINE_ARCH
kw_template_dir=$KESTRAVA_WINE_DIR/template$kw_suffix
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or Gecko installers during wineboot; no crash dialogs waiting for a click.
export WINEDLLOVERRIDES="mscoree,mshtml="

kw_log() { echo "wine-harness: $*" >&2; }

# Marks a finished template. The number goes up whenever kw_make_template changes what a template
# holds, so that an older one in a developer's build folder is made again (2: Marlett).
kw_template_mark=.kestrava-template-2

# Makes the template prefix once; concurrent callers wait for the first one.
kw_template() {
  local dir=$KESTRAVA_WINE_DIR template=$kw_template_dir
  [ -f "$template/$kw_template_mark" ] && return 0
  mkdir -p "$dir"
  (
    flock 9
    [ -f "$template/$kw_template_mark" ] && exit 0
    # The Wine processes must not inherit the lock's descriptor: they would hold the lock.
    kw_make_template "$template" 9>&-
  ) 9>"$template.lock"
}

kw_make_template() {
  local template=$1 log=$1.log started=$SECONDS
  kw_log "making the $WINEARCH template prefix (once, 15-30 s)"
  rm -rf "$template.new"
  mkdir -p "$template.new"
  (
    export WINEPREFIX=$template.new
    wineserver -p
    wineboot -i </dev/null >"$log" 2>&1
    {
      # A crash must end the program, not wait for a click on winedbg's dialog.
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
      # Without a window manager, managed windows wait ~2 s for one on every hide and destroy.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    } </dev/null >>"$log" 2>&1
    wineserver -k || true
    wineserver -w
  ) || return 1
  kw_add_marlett "$template.new" || return 1
  grep -q ShowCrashDialog "$template.new/user.reg" || { kw_log "template setup failed, see $log"; return 1; }
  touch "$template.new/$kw_template_mark"
  rm -rf "$template"
  mv "$template.new" "$template"
  kw_log "$WINEARCH template ready in $((SECONDS - started)) s"
}

# Wine draws the caption buttons (minimise, maximise, close) and the check marks of menus with its
# Marlett font. Debian's fonts-wine installs it where this Wine does not look, and the buttons then
# show the letters "0 1 r"; a copy in the prefix's Fonts folder is found like any Windows font.
kw_add_marlett() {
  local fonts=$1/drive_c/windows/Fonts font
  font=$( (dpkg -L fonts-wine 2>/dev/null; echo /usr/share/wine/fonts/marlett.ttf) |
    grep -i '/marlett\.ttf$' | while read -r f; do [ -f "$f" ] && echo "$f" && break; done)
  if [ -z "$font" ]; then
    kw_log "no marlett.ttf (package fonts-wine): caption buttons will show letters"
    return 1
  fi
  mkdir -p "$fonts" && cp "$font" "$fonts/marlett.ttf"
}

kw_prefix() {
  local name=$1
  kw_template || return 1
  export WINEPREFIX=$KESTRAVA_WINE_DIR/$name$kw_suffix
  if [ -d "$WINEPREFIX" ]; then
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  cp -a "$kw_template_dir" "$WINEPREFIX"
}

kw_start() {
  # Fails harmlessly when this prefix's server already runs (the harness always starts it first,
  # so a running one is persistent too).
  wineserver -p 2>/dev/null || true
  # Wine's system processes inherit the descriptors of the wine command that starts them and live
  # on with the persistent server: start them with harmless ones so that no caller's pipe stays open.
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
}

kw_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

kw_restart() {
  kw_stop
  kw_start
}

# winecfg -v changes the version that the next process is told. A "Version" value directly under
# HKCU\Software\Wine would override it (and report a server product type), so it must not exist.
kw_winver() {
  wine winecfg -v "$1" </dev/null >/dev/null 2>&1 || return 1
  wine reg delete 'HKCU\Software\Wine' /v Version /f </dev/null >/dev/null 2>&1 || true
}

kw_display() {
  if [ -n "${DISPLAY:-}" ]; then
    return 0
  fi
  local fifo num
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/kw-xvfb.XXXXXX")
  mkfifo "$fifo"
  # -displayfd lets Xvfb choose a free display number and tell us which.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 </dev/null &
  # Not exported: only the shell that started this Xvfb may stop it, not the scripts it runs.
  KW_XVFB_PID=$!
  num=""
  read -r -t 20 num <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$num" ]; then
    kw_log "Xvfb did not start"
    kill "$KW_XVFB_PID" 2>/dev/null || true
    unset KW_XVFB_PID
    return 1
  fi
  export DISPLAY=:$num
  for _ in $(seq 50); do
    [ -S "/tmp/.X11-unix/X$num" ] && break
    sleep 0.1
  done
}

kw_display_stop() {
  if [ -n "${KW_XVFB_PID:-}" ]; then
    kill "$KW_XVFB_PID" 2>/dev/null || true
    wait "$KW_XVFB_PID" 2>/dev/null || true
    unset KW_XVFB_PID DISPLAY
  fi
}

kw_winpath() {
  local p
  p=$(readlink -f "$1")
  echo "Z:${p//\//\\}"
}
