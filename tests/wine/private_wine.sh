# Sourced with $work set to a scratch folder: a Wine prefix and an X server of
# our own inside it, both ended and removed on exit.
#   start_private_wine   starts them; fails with a line in $work/setup.log
xvfb_pid=""
end_private_wine() {
  wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ -n "${KEEP_WINE_WORK:-}" ] || rm -rf "$work"
}
trap end_private_wine EXIT
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

start_private_wine() {
  # The X server picks a free display and writes its number to fd 3.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  if [ ! -s "$work/display" ]; then echo "Xvfb didn't start" >"$work/setup.log"; return 1; fi
  export DISPLAY=":$(head -1 "$work/display")"
  # Without a window manager every hidden window costs seconds unless Wine
  # manages none; a crash dialog would hang the run forever.
  cat >"$work/settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  if ! wineboot -i >"$work/wineboot.log" 2>&1 || ! wine regedit /S "$work/settings.reg" >/dev/null 2>&1; then
    echo "wineboot or regedit failed" >"$work/setup.log"
    return 1
  fi
}
