# Sourced by scripts/demo.sh ($root and $out set): the host stand-in shows
# both property sheets under Wine's X11 driver on a virtual screen (Xvfb),
# sets some controls, applies, and saves pictures of the sheets.
echo
echo "==> The property sheets under Wine on a virtual X screen"
sheets_exe="$root/build/win64/tools/host/qx748host.exe"
sheets_dll="Z:$root/build/win64/uiplugin/QX748UI.dll"
# A prefix of its own: the graphics driver is a per-prefix setting, and the
# tests' prefix stays on the null driver.
sheets_prefix="$root/build/win64/wineprefix-x11"
sheets_display=""
for n in 97 96 95 94 93 92 91 90; do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then sheets_display=":$n"; break; fi
done
if [ -z "$sheets_display" ]; then
  echo "no free X display number between :90 and :97" >&2
  exit 1
fi
Xvfb "$sheets_display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
sheets_xvfb=$!
sheets_cleanup() {
  "$root/scripts/wine-run" --prefix "$sheets_prefix" --stop || true
  kill "$sheets_xvfb" 2>/dev/null || true
  wait "$sheets_xvfb" 2>/dev/null || true
}
trap sheets_cleanup EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${sheets_display#:}" ] && break
  sleep 0.1
done
sheets_out=$(cd "$out" && pwd)
rm -rf "$sheets_out/screenshots"
mkdir -p "$sheets_out/screenshots"
sheets_rc=0
DISPLAY="$sheets_display" QX_WINE_GRAPHICS=x11 "$root/scripts/wine-run" --prefix "$sheets_prefix" \
  "$sheets_exe" --screenshot "Z:$sheets_out/screenshots" "$sheets_dll" >"$out/sheet-record.txt" || sheets_rc=$?
sed -n '/== Document properties sheet/,$p' "$out/sheet-record.txt"
if [ "$sheets_rc" -ne 0 ]; then
  echo "qx748host --screenshot exited with $sheets_rc (record above)" >&2
  exit "$sheets_rc"
fi
sheets_cleanup
trap - EXIT
echo "(record saved as $out/sheet-record.txt; screenshots:)"
ls -l "$out/screenshots"/*.png
echo
echo "To use the sheets yourself on an X display (here :0), after this demo has built them:"
echo "  DISPLAY=:0 QX_WINE_GRAPHICS=x11 $root/scripts/wine-run --prefix $sheets_prefix \\"
echo "    $sheets_exe --document $sheets_dll"
echo "(--printer for the printer properties; the record is printed when the sheet closes)"
