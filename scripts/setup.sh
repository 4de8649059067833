#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (as root).
# Safe to run again: does nothing when all is in place.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config python3
  googletest libgtest-dev libbenchmark-dev
  libfreetype-dev libfontconfig-dev libpng-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
  # Linking a host through the import library with an MSVC-style linker;
  # llvm-dlltool makes the import library.
  lld llvm
  # The printer application and its IPP tests (libjpeg for its pictures;
  # libpng is above); a CUPS scheduler of the tests' own, as a desktop's
  # queue.
  libpappl-dev cups-ipp-utils cups-client cups-daemon libjpeg-dev
  # Pictures made and read back by the printer application tests.
  python3-pil
  # Building and checking the Debian package.
  dpkg-dev
  # Where the kernel runs no 32-bit x86 programs itself (as on this project's
  # machines), wine32 runs under user-mode emulation.
  qemu-user-static
  xfonts-wqy fonts-wqy-zenhei fontconfig locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync serves an index that does not match its
  # release file; apt then goes on without it, and without the i386
  # security index wine32:i386 cannot be resolved against the amd64
  # libraries it shares versions with. Try a few times; if an index still
  # does not match, take it as the mirror serves it (apt leaves such a
  # file unverified, so this says so) instead of leaving it out.
  for attempt in 1 2 3; do
    if update_log=$(apt-get update -qq 2>&1); then break; fi
    echo "setup: apt-get update failed (attempt $attempt)" >&2
    ((attempt < 3)) && sleep $((attempt * 10))
  done
  stale=$(grep -o 'Failed to fetch [^ ]*/Packages\.xz  File has unexpected size' <<<"${update_log:-}" |
          awk '{print $4}' || true)
  for url in $stale; do
    list=/var/lib/apt/lists/$(sed -e 's|^[a-z]*://||' -e 's|/|_|g' -e 's|\.xz$||' <<<"$url")
    [[ -e $list ]] && continue
    echo "setup: $url does not match its release file (a mirror mid-sync); using it unverified" >&2
    fetched=$(mktemp -d)
    chown _apt "$fetched" 2>/dev/null || true
    if /usr/lib/apt/apt-helper download-file "$url" "$fetched/Packages.xz" >/dev/null; then
      xz -dc "$fetched/Packages.xz" > "$list" || rm -f "$list"
    fi
    rm -rf "$fetched"
  done
  for attempt in 1 2 3; do
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null && break
    if ((attempt == 3)); then
      echo "setup: could not install ${missing[*]}" >&2
      exit 1
    fi
    sleep 30
    apt-get update -qq || true
  done
fi

# Without the kernel's own 32-bit support, 32-bit x86 programs (wine32) are
# handed to qemu through binfmt_misc ('F': the emulator is opened now, so it
# also serves programs started in other mount namespaces).
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  [[ -e $binfmt/register ]] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [[ ! -e $binfmt/qemu-i386 ]]; then
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:OCF' > "$binfmt/register"
  fi
fi

# Wine takes its ANSI code page from the locale: the tests run at 936 and 1252.
for loc in zh_CN.UTF-8 en_US.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qix "${loc/UTF-8/utf8}"; then
    sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" >> /etc/locale.gen
    locale-gen >/dev/null
  fi
done
