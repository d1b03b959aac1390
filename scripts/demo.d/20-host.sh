# Sourced by scripts/demo.sh ($root and $out set): the host stand-in loads
# QX748UI.dll under Wine and makes the printer driver UI's calls.
echo
echo "==> The host stand-in drives QX748UI.dll under Wine"
host_exe="$root/build/win64/tools/host/qx748host.exe"
host_dll="Z:$root/build/win64/uiplugin/QX748UI.dll"
host_rc=0
"$root/scripts/wine-run" --prefix "$root/build/win64/wineprefix" "$host_exe" "$host_dll" \
  >"$out/host-transcript.txt" || host_rc=$?
cat "$out/host-transcript.txt"
if [ "$host_rc" -ne 0 ]; then
  echo "qx748host exited with $host_rc (transcript above)" >&2
  exit "$host_rc"
fi
echo "(transcript saved as $out/host-transcript.txt)"
