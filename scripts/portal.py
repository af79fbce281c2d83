#!/usr/bin/env python3
"""Publishes a game client folder as an Orvane update portal.

  portal.py keygen <dir>
      Makes an ECDSA P-256 key pair for signing file lists: <dir>/private.pem
      (readable by its owner only) and <dir>/public.pem (what Orvane is built
      with). An existing private key is never overwritten.

  portal.py publish <client-folder> <portal-dir> --base-url URL
                    [--version N|auto] [--sign private.pem] [--list-name NAME]
      Lays out <portal-dir> for any static web server rooted there:

        <portal-dir>/url.txt                 the base URL, one line (the relay)
        <portal-dir>/<base path>/filelist.json
        <portal-dir>/<base path>/filelist.json.sig   with --sign
        <portal-dir>/<base path>/<every client file>

      <base path> is the path of URL (http://update.example/files/ -> files/);
      "{version}" in URL is replaced by the version, so each release can get a
      folder of its own. The list is {"version": N, "files": [...]}, one entry
      {"path", "hash" (lower-case MD5), "size" (bytes)} per file, sorted by
      path, paths relative to the client folder with "/" separators. The
      version must grow: "auto" (the default) takes the highest version already
      published in <portal-dir> plus one, or 1.

      The base folder is assembled beside its final place and swapped in as a
      whole; url.txt is replaced last. Nothing is written when any file name
      would be refused or mangled by Orvane on Windows.

Exit codes: 0 done, 1 failure (I/O, openssl), 2 refused input.
"""

import argparse
import hashlib
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unicodedata
import urllib.parse

LIST_NAME = "filelist.json"
RELAY_NAME = "url.txt"
PRIVATE_KEY_NAME = "private.pem"
PUBLIC_KEY_NAME = "public.pem"
CHUNK = 1 << 20

# Characters Windows forbids in file names (besides controls) and ':' (drives,
# streams): Orvane skips list entries containing them.
WINDOWS_FORBIDDEN = set('<>:"|?*')
# Orvane requests base URL + path without escaping: a '#' would end the path
# and a '%' would be decoded by the server into another name.
URL_UNSAFE = set("#%")
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {
    prefix + digit for prefix in ("COM", "LPT") for digit in "123456789"
}


class Refused(Exception):
    """Input the portal must not be built from (exit code 2)."""


class Failed(Exception):
    """A step that could not be carried out (exit code 1)."""


def segment_problem(segment):
    """Why one name between separators cannot be published, or None."""
    if segment == "":
        return "empty name"
    if segment.strip(". ") == "":
        return "name made only of dots and spaces"
    for c in segment:
        if ord(c) < 0x20:
            return "control character %r" % c
        if c in WINDOWS_FORBIDDEN:
            return "character %r is not allowed in Windows file names" % c
        if c == "\\":
            return "backslash in a name (Windows reads it as a folder separator)"
        if c in URL_UNSAFE:
            return "character %r cannot be requested unescaped" % c
        if 0xD800 <= ord(c) <= 0xDFFF:
            return "name is not valid UTF-8"
    if segment[-1] in ". ":
        return "trailing dot or space (Windows drops it)"
    # Windows reserves the device names with any extension, spaces before it ignored.
    if segment.split(".", 1)[0].rstrip(" ").upper() in DEVICE_NAMES:
        return "Windows device name"
    return None


def path_problem(path):
    """Why a "/"-separated relative path cannot be published, or None."""
    if path == "":
        return "empty path"
    if path.startswith("/"):
        return "absolute path"
    for segment in path.split("/"):
        if segment == "..":
            return "'..' leaves the game directory"
        problem = segment_problem(segment)
        if problem:
            return problem
    return None


def collect_files(client):
    """The client folder's files as (relative path, absolute path), sorted.

    Raises Refused listing every name that cannot be published."""
    found = []
    problems = []
    for current, dirs, files in os.walk(client, onerror=_raise_walk_error):
        rel_dir = os.path.relpath(current, client)
        rel_dir = "" if rel_dir == "." else rel_dir.replace(os.sep, "/") + "/"
        kept_dirs = []
        for name in sorted(dirs):
            full = os.path.join(current, name)
            problem = segment_problem(name)
            if problem:
                problems.append("%s%s/: %s" % (rel_dir, _show(name), problem))
            elif os.path.islink(full):
                problems.append("%s%s/: symbolic link to a folder (not followed)" % (rel_dir, name))
            else:
                kept_dirs.append(name)
        dirs[:] = kept_dirs
        for name in sorted(files):
            full = os.path.join(current, name)
            rel = rel_dir + name
            problem = segment_problem(name)
            if problem:
                problems.append("%s%s: %s" % (rel_dir, _show(name), problem))
            elif not os.path.isfile(full):
                problems.append("%s: not a regular file" % rel)
            else:
                found.append((rel, full))

    # Windows folders ignore letter case: two such names would be one file there.
    seen = {}
    for rel, _ in found:
        key = unicodedata.normalize("NFC", rel).casefold()
        if key in seen:
            problems.append("%s: same name as %s on Windows (letter case)" % (rel, seen[key]))
        else:
            seen[key] = rel
    if problems:
        raise Refused("these files cannot be published:\n  " + "\n  ".join(problems))
    found.sort(key=lambda item: item[0])
    return found


def _raise_walk_error(error):
    raise Failed("cannot read %s: %s" % (error.filename, error.strerror))


def _show(name):
    return name.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def base_path_of(url):
    """The folder below the server root that URL names, e.g. "files/v3/"."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.hostname:
        raise Refused("--base-url must be an http:// or https:// URL with a host: %s" % url)
    if parts.query or parts.fragment or "%" in parts.path:
        raise Refused("--base-url must not contain a query, a fragment or escapes: %s" % url)
    path = parts.path.strip("/")
    if path == "":
        raise Refused(
            "--base-url needs a folder below the server root (e.g. http://host/files/), "
            "so that the list, the files and url.txt do not share one folder")
    problem = path_problem(path)
    if problem:
        raise Refused("--base-url path %r: %s" % (parts.path, problem))
    return path + "/"


def published_version(list_file):
    """The version of a list published earlier, or 0."""
    try:
        with open(list_file, "rb") as f:
            document = json.loads(f.read().decode("utf-8"))
    except FileNotFoundError:
        return 0
    except (OSError, ValueError) as e:
        raise Failed("cannot read the earlier list %s: %s" % (list_file, e))
    version = document.get("version") if isinstance(document, dict) else None
    return version if isinstance(version, int) and not isinstance(version, bool) else 0


def previous_version(portal, list_name, candidate_bases):
    """Highest version published in the portal: the list url.txt points at and
    the lists in the given base folders."""
    bases = list(candidate_bases)
    try:
        with open(os.path.join(portal, RELAY_NAME), encoding="utf-8") as f:
            current = f.read().strip()
        bases.append(base_path_of(current))
    except FileNotFoundError:
        pass
    except (OSError, ValueError, Refused):
        pass  # a relay that does not name a folder here has no version to continue
    return max([published_version(os.path.join(portal, b, list_name)) for b in bases] + [0])


def copy_with_digest(source, target):
    """Copies a file and returns (md5 hex, size) of the bytes written, so the
    list describes exactly the published copy even if the source changes."""
    digest = hashlib.md5()
    size = 0
    with open(source, "rb") as src, open(target, "wb") as dst:
        while True:
            chunk = src.read(CHUNK)
            if not chunk:
                break
            digest.update(chunk)
            dst.write(chunk)
            size += len(chunk)
    return digest.hexdigest(), size


def list_text(version, entries):
    """The list as published: one entry a line, readable in any text viewer."""
    lines = ",\n".join(json.dumps(entry, ensure_ascii=False) for entry in entries)
    body = "\n" + lines + "\n" if entries else ""
    return '{"version": %d, "files": [%s]}\n' % (version, body)


def run_openssl(arguments, what):
    try:
        result = subprocess.run(["openssl"] + arguments, capture_output=True)
    except FileNotFoundError:
        raise Failed("openssl is not installed (needed to %s)" % what)
    if result.returncode != 0:
        raise Failed("openssl could not %s: %s" % (what, result.stderr.decode(errors="replace").strip()))
    return result.stdout


def sign_file(key, path):
    """Writes path + ".sig": DER ECDSA signature over SHA-256 of the file's bytes."""
    run_openssl(["dgst", "-sha256", "-sign", key, "-out", path + ".sig", path], "sign the list")


def is_inside(path, folder):
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def publish(client, portal, base_url, version="auto", key=None, list_name=LIST_NAME):
    """Builds or refreshes the portal; returns (version, number of files)."""
    if not os.path.isdir(client):
        raise Refused("client folder not found: %s" % client)
    if is_inside(portal, client) or is_inside(client, portal):
        raise Refused("the client folder and the portal folder must not contain each other")
    if key is not None and not os.path.isfile(key):
        raise Refused("signing key not found: %s" % key)
    if "/" in list_name or segment_problem(list_name):
        raise Refused("unusable list name: %s" % list_name)

    templated = "{version}" in base_url
    if not templated:
        base_url_fixed = base_url if base_url.endswith("/") else base_url + "/"
        base = base_path_of(base_url_fixed)
    files = collect_files(client)
    os.makedirs(portal, exist_ok=True)

    last = previous_version(portal, list_name, [] if templated else [base])
    if version == "auto":
        version = last + 1
    elif version <= last:
        raise Refused("version %d is not newer than the published version %d" % (version, last))
    if templated:
        base_url_fixed = base_url.replace("{version}", str(version))
        base_url_fixed += "" if base_url_fixed.endswith("/") else "/"
        base = base_path_of(base_url_fixed)
    if any(rel in (list_name, list_name + ".sig") or rel.startswith(list_name + "/")
           for rel, _ in files):
        raise Refused("the client folder holds a file named like the list (%s)" % list_name)

    final = os.path.join(portal, base)
    parent = os.path.dirname(final.rstrip("/"))
    os.makedirs(parent, exist_ok=True)
    staging = tempfile.mkdtemp(prefix=".publish-", dir=parent)
    try:
        entries = []
        for rel, source in files:
            target = os.path.join(staging, *rel.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            md5, size = copy_with_digest(source, target)
            entries.append({"path": rel, "hash": md5, "size": size})
        list_bytes = list_text(version, entries).encode("utf-8")
        list_file = os.path.join(staging, list_name)
        with open(list_file, "wb") as f:
            f.write(list_bytes)
        if key is not None:
            sign_file(key, list_file)
        os.chmod(staging, 0o755)
        _swap_in(staging, final.rstrip("/"))
        staging = None
    finally:
        if staging is not None:
            shutil.rmtree(staging, ignore_errors=True)

    relay = os.path.join(portal, RELAY_NAME)
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", dir=portal, prefix=".url-",
                                     delete=False) as f:
        f.write(base_url_fixed + "\n")
    os.chmod(f.name, 0o644)
    os.replace(f.name, relay)
    return version, len(files)


def _swap_in(staging, final):
    """Replaces the folder `final` by `staging`, keeping the old one until the
    new one is in place."""
    old = None
    if os.path.lexists(final):
        old = final + ".old-%d" % os.getpid()
        os.rename(final, old)
    os.rename(staging, final)
    if old is not None:
        shutil.rmtree(old, ignore_errors=True)


def keygen(folder):
    os.makedirs(folder, exist_ok=True)
    private = os.path.join(folder, PRIVATE_KEY_NAME)
    public = os.path.join(folder, PUBLIC_KEY_NAME)
    if os.path.lexists(private):
        raise Refused("%s exists already; not overwriting a signing key" % private)
    # The key file is created unreadable to others from its first byte on.
    old_umask = os.umask(0o077)
    try:
        run_openssl(["ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", private],
                    "make the key")
    finally:
        os.umask(old_umask)
    os.chmod(private, 0o600)
    run_openssl(["ec", "-in", private, "-pubout", "-out", public], "write the public key")
    os.chmod(public, 0o644)
    return private, public


def parse_version(text):
    if text == "auto":
        return text
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("a whole number or 'auto'")
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more")
    return value


def main(argv=None):
    parser = argparse.ArgumentParser(prog="portal.py", description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    k = commands.add_parser("keygen", help="make a signing key pair")
    k.add_argument("dir")
    p = commands.add_parser("publish", help="publish a client folder")
    p.add_argument("client")
    p.add_argument("portal")
    p.add_argument("--base-url", required=True)
    p.add_argument("--version", type=parse_version, default="auto")
    p.add_argument("--sign", metavar="PRIVATE_KEY")
    p.add_argument("--list-name", default=LIST_NAME)
    args = parser.parse_args(argv)

    try:
        if args.command == "keygen":
            private, public = keygen(args.dir)
            print("private key: %s (keep it secret)\npublic key:  %s" % (private, public))
        else:
            version, count = publish(args.client, args.portal, args.base_url, args.version,
                                     args.sign, args.list_name)
            print("published version %d: %d files in %s" % (version, count, args.portal))
    except Refused as e:
        print("portal.py: refused: %s" % e, file=sys.stderr)
        return 2
    except (Failed, OSError) as e:
        print("portal.py: failed: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
