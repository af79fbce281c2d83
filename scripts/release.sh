#!/usr/bin/env bash
# Builds the Orvane.exe the service hands to its players: the shipped 32-bit
# build with the file-list public key embedded, the lowest file-list version it
# takes, and, when a code-signing certificate is given, an Authenticode
# signature that is checked against the given CA before anything is written.
#
#   scripts/release.sh --key public.pem (--portal DIR [--list-name NAME] | --min-version N)
#                      [--out DIR] [--build-dir DIR]
#                      [--cert cert.pem --cert-key key.pem --ca ca.pem [--pass-file FILE]]
#
#   --key          the public key file lists are signed with (scripts/portal.py keygen)
#   --portal       the portal folder scripts/portal.py publishes into: the list it
#                  serves now (signed with the key's private half) sets the lowest
#                  version a fresh installation takes, so no older signed list can
#                  be replayed to it
#   --list-name    the list's name there, when not portal.py's default (FileListName)
#   --min-version  that lowest version, given instead (it overrides --portal)
#   --out          where the exe and its SHA-256 go (default build/release)
#   --build-dir    the build folder (default build/release-i686)
#   --cert         code-signing certificate (PEM; intermediate certificates may follow it)
#   --cert-key     its private key (PEM); --pass-file names a file holding its passphrase
#   --ca           the CA certificate(s) the signature must verify against
#
# The image is reproducible: the same sources, key and options give the same
# bytes in any folder (the unsigned image stays in the build folder; the
# signature adds a signing time). Exit codes: 0 done, 1 failure, 2 wrong usage.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

usage() {
  echo "release.sh: $1" >&2
  echo "usage: scripts/release.sh --key public.pem (--portal DIR [--list-name NAME] | --min-version N)" \
       "[--out DIR] [--build-dir DIR]" \
       "[--cert cert.pem --cert-key key.pem --ca ca.pem [--pass-file FILE]]" >&2
  exit 2
}

absolute() { (cd "$(dirname "$1")" && echo "$PWD/$(basename "$1")"); }

key= min_version= portal= list_name=
out="$root/build/release" build="$root/build/release-i686"
cert= cert_key= ca= pass_file=
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage "$1 needs a value"
  case "$1" in
    --key) key="$2" ;;
    --min-version) min_version="$2" ;;
    --portal) portal="$2" ;;
    --list-name) list_name="$2" ;;
    --out) out="$2" ;;
    --build-dir) build="$2" ;;
    --cert) cert="$2" ;;
    --cert-key) cert_key="$2" ;;
    --ca) ca="$2" ;;
    --pass-file) pass_file="$2" ;;
    *) usage "unknown option $1" ;;
  esac
  shift 2
done

[ -n "$key" ] || usage "--key is required (the file-list public key)"
[ -f "$key" ] || usage "no such key file: $key"
if [ -n "$cert$cert_key$ca$pass_file" ]; then
  [ -n "$cert" ] && [ -n "$cert_key" ] && [ -n "$ca" ] ||
    usage "signing needs --cert, --cert-key and --ca together"
  for f in "$cert" "$cert_key" "$ca" ${pass_file:+"$pass_file"}; do
    [ -f "$f" ] || usage "no such file: $f"
  done
  command -v osslsigncode >/dev/null ||
    { echo "release.sh: osslsigncode is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
fi
if [ -n "$min_version" ]; then
  [[ "$min_version" =~ ^[0-9]+$ ]] || usage "--min-version must be a whole number from 0 up"
  min_source="given with --min-version"
else
  [ -n "$portal" ] ||
    usage "--portal DIR (the published portal) or --min-version N is required: the lowest list version a fresh installation takes"
  if ! min_version="$(python3 "$root/scripts/portal.py" current-version "$portal" \
                        ${list_name:+--list-name "$list_name"} --key "$key")"; then
    echo "release.sh: no signed list version found in $portal; pass --min-version N to choose the minimum" >&2
    exit 1
  fi
  min_source="the list $portal serves now"
fi
key="$(absolute "$key")"
mkdir -p "$out" "$build"
out="$(absolute "$out")"
build="$(absolute "$build")"

echo "== building the shipped program (mingw-i686) in $build"
cd "$root"
cmake --preset mingw-i686 -B "$build" -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_FILELIST_PUBLIC_KEY="$key" -DORVANE_MIN_FILELIST_VERSION="$min_version" >/dev/null
cmake --build "$build" --target Orvane -j"$(nproc)"
image="$build/src/Orvane.exe"

staged="$out/.Orvane.exe.part"
trap 'rm -f "$staged"' EXIT
if [ -n "$cert" ]; then
  echo "== signing with $cert"
  sign=(osslsigncode sign -certs "$cert" -key "$cert_key" -h sha256 -n Orvane
        -in "$image" -out "$staged")
  [ -z "$pass_file" ] || sign+=(-readpass "$pass_file")
  rm -f "$staged"
  "${sign[@]}" >/dev/null ||
    { echo "release.sh: osslsigncode could not sign $image" >&2; exit 1; }
  if ! verdict="$(osslsigncode verify -in "$staged" -CAfile "$ca" 2>&1)"; then
    echo "$verdict" >&2
    echo "release.sh: the signature does not verify against $ca; nothing written" >&2
    exit 1
  fi
else
  cp "$image" "$staged"
fi
mv "$staged" "$out/Orvane.exe"
(cd "$out" && sha256sum Orvane.exe >Orvane.exe.sha256)

echo
echo "Orvane.exe:          $out/Orvane.exe$([ -n "$cert" ] && echo " (signed, verified against $ca)" || echo " (not signed)")"
echo "SHA-256:             $out/Orvane.exe.sha256  $(cut -d' ' -f1 "$out/Orvane.exe.sha256")"
echo "Unsigned image:      $image  $(sha256sum "$image" | cut -d' ' -f1)"
echo "File-list key:       $key"
echo "Minimum list version: $min_version ($min_source)"
