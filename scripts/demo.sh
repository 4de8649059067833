#!/usr/bin/env bash
# The main job, start to finish, on the example delivery note:
#   1. sets the machine up (scripts/setup.sh; as root, or through sudo),
#   2. builds the library and bspp-print (linux preset),
#   3. prints the example as a dry run: the job stream, its annotated
#      listing and a picture of the printed page,
#   4. prints it through bspp.dll under Wine into a file-backed LPT1, and
#      pictures what arrived there.
# Everything it writes goes to build/demo (or $BSPP_DEMO_OUT).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=${BSPP_DEMO_OUT:-$root/build/demo}
build=${BSPP_BUILD_DIR:-$root/build/linux}
winbuild=${BSPP_WIN32_BUILD_DIR:-$root/build/win32}
example=examples/delivery-note.gb2312

step() { printf '\n== %s\n' "$*"; }

step "Set-up"
if [[ $(id -u) -eq 0 ]]; then
  bash scripts/setup.sh
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  sudo bash scripts/setup.sh
else
  echo "not root and no sudo: skipping scripts/setup.sh (run it as root on a fresh machine)"
fi

mkdir -p "$out"
# The Windows part runs beside the Linux one from the start: where wine32 runs
# under emulation its one 32-bit process takes about a minute to start.
# A small Windows host program loads bspp.dll, finds BSPPring and calls it
# with the example's bytes and a NUL as the last byte, as a host passing
# strlen(text) does; LPT1 of a private Wine prefix is a file. Wine takes its
# ANSI code page from the locale: 936, as on a Chinese Windows.
wine_windows() {
  if ! command -v wine >/dev/null; then
    echo "wine is not installed" >"$out/wine.note"
    return
  fi
  if ! { cmake --preset win32 -B "$winbuild" && cmake --build "$winbuild" --target bspp bspp_host; } \
      >"$out/win32-build.log" 2>&1; then
    echo "the win32 build failed (see ${out#"$root"/}/win32-build.log)" >"$out/wine.note"
    return
  fi
  local prefix
  prefix=$(mktemp -d /tmp/bspp-demo-wine.XXXXXX)
  timeout "${BSPP_WINE_TIMEOUT:-900}" python3 "$root/tests/wine/wine_driver.py" print \
    --prefix "$prefix" --host "$winbuild/tests/wine/bspp_host.exe" --job "$example" \
    --lpt1 "$out/lpt1.bin" --wait 1000 >"$out/wine.replies" 2>"$out/wine.log" ||
    echo "the DLL under Wine did not print (see ${out#"$root"/}/wine.log)" >"$out/wine.note"
  rm -rf "$prefix"
}
rm -f "$out/wine.note" "$out/wine.replies"
started=$SECONDS
wine_windows &
wine_job=$!

step "Build (linux preset, in ${build#"$root"/})"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target bspp bspp-print
print=$build/tools/bspp-print

step "Dry run of $example"
# --nul: the job text ends with a NUL, as for a host that passes strlen(text)
# as lastIndex, so the page is ejected with a form feed at the end.
"$print" --nul --output "$out/delivery-note.job" --preview "$out/delivery-note.png" \
  --dump "$example" >"$out/delivery-note.dump.txt"
echo "job stream: $(wc -c <"$out/delivery-note.job") bytes for $(wc -c <"$example") bytes of text"
echo
echo "From its annotated listing, the first row of the table (bands, the dot"
echo "picture of its Chinese characters, the CR, the text, the line end):"
awk '/^[0-9A-F]+  band  /{start=NR} {line[NR]=$0}
     /^[0-9A-F]+  text .*HD-M8X30/{for(i=start;i<=NR;i++) print line[i]; getline; print; exit}' \
  "$out/delivery-note.dump.txt"
echo "  ..."
grep -E '^[0-9A-F]{6}  form feed' "$out/delivery-note.dump.txt"
tail -n 1 "$out/delivery-note.dump.txt"

step "Through bspp.dll under Wine, into a file-backed LPT1"
wait "$wine_job" || true
wine_note=$(cat "$out/wine.note" 2>/dev/null || true)
if [[ -z $wine_note ]]; then
  grep -E '^(load|call)' "$out/wine.replies" | sed 's/^/  host: /'
  echo "BSPPring returned 1: $(wc -c <"$out/lpt1.bin") bytes reached LPT1 (${out#"$root"/}/lpt1.bin)," \
       "$((SECONDS - started)) s after the Windows part started"
  "$print" --stream --preview "$out/lpt1.png" "$out/lpt1.bin" 2>/dev/null
  if cmp -s "$out/lpt1.bin" "$out/delivery-note.job"; then
    echo "identical to the Linux dry run, byte for byte"
  else
    echo "differs from the Linux dry run only where the two platforms' fonts draw"
    echo "different pixels; the listings of both have the same elements:"
    diff <("$print" --stream --dump "$out/lpt1.bin" | grep -vE '^ {10}' | cut -c1-60) \
         <(grep -vE '^ {10}' "$out/delivery-note.dump.txt" | cut -c1-60) >/dev/null \
      && echo "  same offsets, same commands, same text" \
      || echo "  (the element lists differ: compare the two dumps)"
  fi
fi
[[ -n $wine_note ]] && echo "skipped: $wine_note"

step "Results in ${out#"$root"/}/"
echo "  delivery-note.job       the job stream (what BSPPring sends to the port)"
echo "  delivery-note.dump.txt  its annotated listing"
echo "  delivery-note.png       a picture of the printed page (360 dpi)"
if [[ -z $wine_note ]]; then
  echo "  lpt1.bin, lpt1.png      what reached LPT1 under Wine, and its picture"
fi
