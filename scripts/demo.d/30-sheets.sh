# Sourced by scripts/demo.sh ($root and $out set): the host stand-in shows
# both property sheets under Wine's X11 driver on a virtual screen (Xvfb),
# sets some controls, applies, and saves pictures of the sheets, at 96 DPI
# and again at 144 and 192 DPI (Wine's LogPixels, as on a laptop at 150 %
# and at 200 %); the screen is large enough for the larger sheets.
echo
echo "==> The property sheets under Wine on a virtual X screen"
sheets_exe="$root/build/win64/tools/host/qx748host.exe"
sheets_built_dll="$root/build/win64/uiplugin/QX748UI.dll"
sheets_dll="Z:$sheets_built_dll"
# Prefixes of their own: the graphics driver and the DPI are per-prefix
# settings, and the tests' prefix stays on the null driver. At 144 and 192
# DPI wine-run uses the sibling prefixes wineprefix-x11-dpi144 and -dpi192
# (QX_WINE_DPI).
sheets_prefix="$root/build/win64/wineprefix-x11"
sheets_display=""
for n in 97 96 95 94 93 92 91 90; do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then sheets_display=":$n"; break; fi
done
if [ -z "$sheets_display" ]; then
  echo "no free X display number between :90 and :97" >&2
  exit 1
fi
Xvfb "$sheets_display" -screen 0 2000x1600x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
sheets_xvfb=$!
sheets_cleanup() {
  "$root/scripts/wine-run" --prefix "$sheets_prefix" --stop || true
  QX_WINE_DPI=144 "$root/scripts/wine-run" --prefix "$sheets_prefix" --stop || true
  QX_WINE_DPI=192 "$root/scripts/wine-run" --prefix "$sheets_prefix" --stop || true
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

# The files the Version page reads, where it looks for them in a 64-bit
# prefix (docs/integration.md): the plug-in as built, keeping the build's
# date; for the other driver-package components, which this system does not
# build, small stand-in files dated now; the error-message setting and the
# gamma table name.
sheets_install_driver_files() {
  local system="$1/drive_c/windows/system32" windows="$1/drive_c/windows"
  mkdir -p "$system/spool/drivers/x64/3" "$system/spool/prtprocs/x64"
  cp -p "$sheets_built_dll" "$system/spool/drivers/x64/3/qx748ui.dll"
  printf '*%% QX748 printer description: stand-in for the demo\r\n' >"$system/spool/drivers/x64/3/qx748.gpd"
  printf 'QX748 render plug-in: stand-in for the demo\r\n' >"$system/spool/drivers/x64/3/qx748ud.dll"
  printf 'QX748 language monitor: stand-in for the demo\r\n' >"$system/qx748lm.dll"
  printf 'QX748 print processor: stand-in for the demo\r\n' >"$system/spool/prtprocs/x64/QX748Print.dll"
  printf '[Setting]\r\nErrorMsg=1\r\n' >"$system/ERRMSG748.INI"
  # The gamma table's name: 128 bytes at offset 5910 of a 6038-byte file.
  local name='QX748 Standard Gamma'
  { head -c 5910 /dev/zero; printf '%s' "$name"; head -c $((128 - ${#name})) /dev/zero; } >"$windows/QX748.BIN"
}

# One prefix at one DPI: set up, both sheets scripted, pictures named with
# the given suffix.
sheets_rc=0
sheets_run() {
  local dpi="$1" suffix="$2" shots="$sheets_out/screenshots/run-$1" prefix="$sheets_prefix"
  local dpi_env=(QX_WINE_DPI=)
  if [ "$dpi" != 96 ]; then dpi_env=(QX_WINE_DPI="$dpi"); prefix="$sheets_prefix-dpi$dpi"; fi
  # The first call creates the prefix (with its DPI) if need be.
  env DISPLAY="$sheets_display" QX_WINE_GRAPHICS=x11 "${dpi_env[@]}" "$root/scripts/wine-run" \
    --prefix "$sheets_prefix" cmd /c exit >/dev/null
  sheets_install_driver_files "$prefix"
  mkdir -p "$shots"
  env DISPLAY="$sheets_display" QX_WINE_GRAPHICS=x11 "${dpi_env[@]}" "$root/scripts/wine-run" \
    --prefix "$sheets_prefix" "$sheets_exe" --screenshot "Z:$shots" "$sheets_dll" \
    >"$out/sheet-record$suffix.txt" || sheets_rc=$?
  for shot in color-correction version; do
    [ -f "$shots/$shot.png" ] && mv "$shots/$shot.png" "$sheets_out/screenshots/$shot$suffix.png"
  done
  rmdir "$shots" 2>/dev/null || true
}
sheets_run 96 ""
sed -n '/== Document properties sheet/,$p' "$out/sheet-record.txt"
if [ "$sheets_rc" -ne 0 ]; then
  echo "qx748host --screenshot exited with $sheets_rc (record above)" >&2
  exit "$sheets_rc"
fi
echo
echo "(the same at 144 DPI: record in $out/sheet-record-144dpi.txt)"
sheets_run 144 "-144dpi"
if [ "$sheets_rc" -ne 0 ]; then
  cat "$out/sheet-record-144dpi.txt"
  echo "qx748host --screenshot at 144 DPI exited with $sheets_rc (record above)" >&2
  exit "$sheets_rc"
fi
grep -E "screenshot|texts whole|contract violation" "$out/sheet-record-144dpi.txt"
echo
echo "(the same at 192 DPI: record in $out/sheet-record-192dpi.txt)"
sheets_run 192 "-192dpi"
if [ "$sheets_rc" -ne 0 ]; then
  cat "$out/sheet-record-192dpi.txt"
  echo "qx748host --screenshot at 192 DPI exited with $sheets_rc (record above)" >&2
  exit "$sheets_rc"
fi
grep -E "screenshot|texts whole|contract violation" "$out/sheet-record-192dpi.txt"
sheets_cleanup
trap - EXIT
echo "(record saved as $out/sheet-record.txt; screenshots:)"
ls -l "$out/screenshots"/*.png
echo
echo "To use the sheets yourself on an X display (here :0), after this demo has built them:"
echo "  DISPLAY=:0 QX_WINE_GRAPHICS=x11 $root/scripts/wine-run --prefix $sheets_prefix \\"
echo "    $sheets_exe --document $sheets_dll"
echo "(--printer for the printer properties; --platform before either runs the sheet in the"
echo " platform's CommonPropertySheetUIW; the record is printed when the sheet closes)"
