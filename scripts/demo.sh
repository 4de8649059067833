#!/usr/bin/env bash
# The main job, start to finish, on the example delivery note:
#   1. sets the machine up (scripts/setup.sh; as root, or through sudo),
#   2. builds the library and bspp-print (linux preset),
#   3. prints the example as a dry run: the job stream, its annotated
#      listing and a picture of the printed page,
#   4. prints it through the Windows build under Wine into a file-backed
#      LPT1, and pictures what arrived there.
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

step "Build (linux preset, in ${build#"$root"/})"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target bspp bspp-print
print=$build/tools/bspp-print

mkdir -p "$out"
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

step "Through the Windows DLL's code under Wine, into a file-backed LPT1"
# bspp-print.exe is linked from the same objects as bspp.dll (its BSPPring
# path: printJob with the GDI raster and the LPT1 port).
wine_note=""
if ! command -v wine >/dev/null; then
  wine_note="wine is not installed"
elif ! { cmake --preset win32 -B "$winbuild" && cmake --build "$winbuild" --target bspp bspp-print; } \
    >"$out/win32-build.log" 2>&1; then
  wine_note="the win32 build failed (see ${out#"$root"/}/win32-build.log)"
fi
if [[ -z $wine_note ]]; then
  # A private Wine prefix whose LPT1 is a file. Setting a prefix up takes a
  # minute or more (much longer where Wine runs under emulation); both Wine
  # steps are bounded by BSPP_WINE_TIMEOUT seconds.
  limit=${BSPP_WINE_TIMEOUT:-900}
  prefix=$(mktemp -d /tmp/bspp-demo-wine.XXXXXX)
  export WINEPREFIX=$prefix WINEDEBUG=-all
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"' EXIT
  echo "setting up a Wine prefix (up to ${limit}s)..."
  timeout "$limit" wineboot -i >/dev/null 2>&1 || true
  : >"$out/lpt1.bin"
  mkdir -p "$prefix/dosdevices"
  ln -sf "$out/lpt1.bin" "$prefix/dosdevices/lpt1"
  # Wine picks its ANSI code page from the locale: 936, as on a Chinese
  # Windows. The glyphs are read as code page 936 at any code page.
  if LC_ALL=zh_CN.UTF-8 timeout "$limit" wine "$winbuild/tools/bspp-print.exe" --nul --wait 3000 \
      "$example" 2>"$out/wine.log"; then
    echo "printed: $(wc -c <"$out/lpt1.bin") bytes reached LPT1 (${out#"$root"/}/lpt1.bin)"
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
  else
    wine_note="bspp-print.exe under Wine failed or timed out: $(tail -n 1 "$out/wine.log")"
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
