#!/usr/bin/env bash
# Makes this machine run 32-bit Linux programs, which Wine's 32-bit loader is:
# natively where the kernel can, otherwise through qemu-user. Run as root, by
# scripts/setup.sh after the Debian packages (wine32 among them) are in.
#
# Where the kernel runs no 32-bit code it installs qemu-user from the backports
# suite of the machine's own Debian archive (Debian 12's own qemu-user treats
# MAP_FIXED_NOREPLACE as a hint, and Wine's address-space reservation then takes
# about 50 s a process), builds the trap number fix-up (trap-fixup.c) and
# registers a binfmt_misc handler for i386 ELF programs that runs them through
# qemu with the fix-up preloaded. Every step is idempotent; the registration
# does not survive a restart, and is made again by the first run after one.
#
# Prints one line: "i386: native", "i386: qemu-user <version>" or
# "i386: unavailable (<reason>)".
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# The i386 program that must run: Wine's 32-bit loader.
probe=/usr/lib/wine/wine
install_dir=/usr/local/lib/orvane-i386
binfmt=/proc/sys/fs/binfmt_misc
entry_name=orvane-i386
# ELF, 32-bit, little-endian, version 1, any OS ABI; executable or shared
# object (e_type 2 or 3); machine 3 (i386).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# qemu-user older than this cannot start Wine in reasonable time (see above).
qemu_minimum=8

unavailable() {
  echo "i386: unavailable ($1)"
  exit 0
}

runs_probe() {
  "$probe" --version >/dev/null 2>&1
}

[ -x "$probe" ] || unavailable "$probe is not installed"

# An enabled handler of ours was registered since the kernel started, by a run
# that found the kernel runs no 32-bit code: that holds until a restart, which
# takes the handler away. It stays, so programs started through it meanwhile
# (another checkout's tests) are not cut off.
kept=false
if [ -e "$binfmt/$entry_name" ] && grep -qx enabled "$binfmt/$entry_name" &&
   grep -qx "interpreter $install_dir/run-i386" "$binfmt/$entry_name"; then
  kept=true
else
  # A stale handler of ours would take i386 programs even from a kernel that
  # runs them: take it away before asking the kernel.
  if [ -e "$binfmt/$entry_name" ]; then
    echo -1 >"$binfmt/$entry_name"
  fi
  if runs_probe; then
    echo "i386: native"
    exit 0
  fi
fi

export DEBIAN_FRONTEND=noninteractive

# The backports suite of the archive this machine already uses for Debian.
debian_archive() {
  local uri
  uri=$(grep -rhoE '^URIs:[[:space:]]*[^[:space:]]+/debian/?$' /etc/apt/sources.list.d/*.sources 2>/dev/null |
          head -n1 | awk '{print $2}')
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(grep -hoE '^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+/debian/?[[:space:]]' \
            /etc/apt/sources.list | head -n1 | awk '{print $NF}')
  fi
  echo "${uri%/}"
}

qemu_major() {
  local version
  version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
  version=${version#*:}
  echo "${version%%.*}"
}

if [ "$(qemu_major)" = "" ] || [ "$(qemu_major)" -lt "$qemu_minimum" ]; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  archive=$(debian_archive)
  [ -n "$codename" ] && [ -n "$archive" ] || unavailable "no Debian archive in the apt sources"
  list=/etc/apt/sources.list.d/orvane-backports.sources
  if ! grep -qs "^Suites: $codename-backports$" "$list"; then
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$archive" "$codename" >"$list"
  fi
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends -t "$codename-backports" qemu-user >/dev/null
  [ "$(qemu_major)" -ge "$qemu_minimum" ] || unavailable "qemu-user $(qemu_major) is older than $qemu_minimum"
fi
if ! dpkg-query -W -f='${Status}' gcc-multilib 2>/dev/null | grep -q 'install ok installed'; then
  apt-get install -y -q --no-install-recommends gcc gcc-multilib >/dev/null
fi

# The fix-up library and the handler's interpreter, outside any checkout: the
# registration outlives the folder it was made from.
mkdir -p "$install_dir"
gcc -m32 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$install_dir/trap-fixup.so.new" \
  "$here/trap-fixup.c" -ldl
mv -f "$install_dir/trap-fixup.so.new" "$install_dir/trap-fixup.so"
cat >"$install_dir/run-i386.new" <<WRAPPER
#!/bin/sh
# binfmt_misc interpreter for i386 programs (made by scripts/i386/setup.sh).
exec /usr/bin/qemu-i386 -E LD_PRELOAD=$install_dir/trap-fixup.so "\$@"
WRAPPER
chmod 755 "$install_dir/run-i386.new"
mv -f "$install_dir/run-i386.new" "$install_dir/run-i386"

if [ "$kept" = false ]; then
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || unavailable "binfmt_misc cannot be mounted"
  fi
  echo 1 >"$binfmt/status"
  printf ':%s:M::%s:%s:%s:\n' "$entry_name" "$magic" "$mask" "$install_dir/run-i386" >"$binfmt/register" ||
    unavailable "binfmt_misc refused the i386 handler"
fi

runs_probe || unavailable "$probe does not start through qemu-user"
echo "i386: qemu-user $(qemu-i386 --version | head -n1 | awk '{print $3}')"
