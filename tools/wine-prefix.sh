# Sourced by the scripts that run the Windows build under Wine: makes a
# fresh Wine prefix in $WORK/prefix with one Wine server and shows its windows on
# a virtual desktop of Wine's own.
#
# A virtual desktop, because Wine then draws every window itself as Windows
# does (title bars and frames included, which the screenshots show) and has
# a notification area of its own (the tray icon); without one it leaves the
# frames to an X window manager, and without a window manager it waits two
# seconds for one each time a window is hidden.
export WINEPREFIX="$WORK/prefix"
# No Mono or Gecko installers to ask about, and no Wine chatter in the logs.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all

make_wine_prefix() {
  mkdir -p "$WINEPREFIX"
  # One Wine server for the whole run instead of one per program.
  # (Killed at the end, it lists its objects on its error output: into a file.)
  wineserver -p 2>"$WORK/wineserver.log"
  wine wineboot -i >"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log" >&2; return 1; }
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$WORK/wineboot.log" 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
    >>"$WORK/wineboot.log" 2>&1
  # Making a prefix leaves two service managers running (Wine 8), which answer
  # the manager's calls in turns, each from its own list of services: the
  # server is started again with the finished prefix, and one manager.
  wineserver -k 2>>"$WORK/wineserver.log"
  wineserver -p 2>>"$WORK/wineserver.log"
  wine wineboot >>"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log" >&2; return 1; }
  # Marlett (Debian's fonts-wine), whose glyphs are the title bar's buttons;
  # this Wine looks for it in the prefix's Fonts folder, not where the
  # package puts it.  Wine's Tahoma stays out: its bold face lacks letters
  # such as "ů", so titles would show boxes; the dialogs' face then falls
  # back to Liberation Sans (fonts-liberation2), which has them all.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}
