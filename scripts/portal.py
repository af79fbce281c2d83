#!/usr/bin/env python3
"""Publishes a game client folder as an Orvane update portal.

  portal.py keygen <dir>
      Makes an ECDSA P-256 key pair for signing file lists: <dir>/private.pem
      (readable by its owner only) and <dir>/public.pem (what Orvane is built
      with). An existing private key is never overwritten.

  portal.py publish <client-folder> <portal-dir> --base-url URL
                    [--version N|auto] [--sign private.pem] [--list-name NAME]
                    [--connections N] [--mirror URL]...
      Lays out <portal-dir> for any static web server rooted there:

        <portal-dir>/url.txt                 the base URL, one line (the relay;
                                             an operator may add mirrors, one
                                             base URL a line, in order)
        <portal-dir>/<base path>/filelist.json
        <portal-dir>/<base path>/filelist.json.sig   with --sign
        <portal-dir>/<base path>/<every client file>

      <base path> is the path of URL (http://update.example/files/ -> files/);
      "{version}" in URL is replaced by the version, so each release can get a
      folder of its own. The list is {"version": N, "files": [...]}, one entry
      {"path", "hash" (lower-case MD5), "size" (bytes)} per file, sorted by
      path, paths relative to the client folder with "/" separators. With
      --sign it also names itself ("name": the list name) and every entry
      gives its "sha256" (lower-case): a build with a key takes a list only
      under its own name and a file only when both digests match. The
      version must grow: "auto" (the default) takes the highest version already
      published in <portal-dir> plus one, or 1. --connections N (1 to 8)
      lets Orvane fetch up to N files at once over as many connections
      ("connections": N in the list, under its signature when signed);
      without it the list says nothing and Orvane fetches one file after the
      other. Give it again with every publish that should keep it.
      Each --mirror URL (a base URL too, "{version}" replaced the same way)
      is written to url.txt after the base URL, in the order given: players
      fall back to them. A mirror must hold the new base folder before this
      url.txt is served. url.txt names only the mirrors given, so give them
      with every publish (a warning names those the old url.txt had).

      The program (Orvane.exe at the top of the client folder) is published
      like any file: the players' copies fetch it first, replace themselves
      and start it. It must be a Windows program (refused otherwise); one
      that 32-bit Windows cannot start is published with a warning.

      The base folder is assembled beside its final place and swapped in as a
      whole; url.txt is replaced last. Nothing is written when any file name
      would be refused or mangled by Orvane on Windows, or a symbolic link
      leads out of the client folder (links to folders are never followed;
      files are opened without following links).

      Files are hashed while they are copied. Their digests are kept in
      <portal-dir>.digests.json, beside the portal and outside what it serves,
      keyed by the client file's path, size and modification time: a file
      that has not changed since the last publish is not read again, and its
      published copy is hard-linked into the new base folder instead of
      copied. --rehash ignores the cache (for a file changed without its
      size or time changing). The list is the same either way.

  portal.py current-version <portal-dir> [--list-name NAME] [--key public.pem]
      Prints the version of the list <portal-dir> serves now (the one its
      url.txt points at); with --key its signature must verify. Exit code 1
      when there is no such list. scripts/release.sh takes it as the lowest
      list version a release accepts.

  portal.py verify <portal-url> [--key public.pem] [--min-version N]
                   [--list-name NAME] [--jobs N]
      Checks a live portal from the outside, the way Orvane reads it: the
      relay <portal-url>url.txt, and at every mirror it names (one base URL a
      line) the list (either shape Orvane takes; the same bytes at each), the list's signature, version, name and every entry's
      "sha256" when a key is given, then every listed file (status 200,
      length, MD5, the SHA-256 where listed, a path Orvane takes, and for
      the program a Windows program that 32-bit Windows can start),
      a few at once. Orvane's limits hold: at most 4 KiB of relay, 4 MiB of
      list and 1 KiB of signature are read, only http and https URLs count,
      and a redirect from https to http is not followed. One line per problem
      on stdout, progress on stderr.

Exit codes: 0 done (verify: no problems), 1 failure (I/O, openssl; verify:
problems found), 2 refused input.
"""

import argparse
import concurrent.futures
import errno
import hashlib
import http.client
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unicodedata
import urllib.error
import urllib.parse
import urllib.request

LIST_NAME = "filelist.json"
# The program itself, at the top of the client folder: the players' copies
# fetch it first and alone, replace themselves and start it.
PROGRAM_NAME = "Orvane.exe"
# Machine types of a PE image: players run 32-bit Windows too.
MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
PE_HEADER_BYTES = 4096
# The most files Orvane fetches at once, whatever a list allows.
MAX_CONNECTIONS = 8
RELAY_NAME = "url.txt"
PRIVATE_KEY_NAME = "private.pem"
PUBLIC_KEY_NAME = "public.pem"
SIGNATURE_SUFFIX = ".sig"
DIGEST_CACHE_SUFFIX = ".digests.json"
CHUNK = 1 << 20
# A file changed within this long before its digest was taken could change
# again without its modification time moving (coarse file system clocks):
# such digests are not kept in the cache.
RACY_NS = 2 * 10**9
# Orvane's own request limits: no connection within 15 s, or no data for 30 s.
HTTP_TIMEOUT_S = 30
# The most Orvane reads of each answer before it refuses it ("Response too
# large"): kMaxRelayBytes and kMaxFileListBytes in src/update/UpdateController.h,
# kMaxFileListSignatureBytes in src/update/FileListSignature.h.
MAX_RELAY_BYTES = 4 * 1024
MAX_LIST_BYTES = 4 * 1024 * 1024
MAX_SIGNATURE_BYTES = 1024
# Orvane speaks these two only (src/update/HttpClient.cpp); it would request any
# other scheme's URL over plain http, which is never what the portal meant.
URL_SCHEMES = ("http", "https")
# The relay's text loses surrounding spaces, CR and LF, nothing else.
RELAY_TRIMMED = " \r\n"

# Characters Windows forbids in file names (besides controls) and ':' (drives,
# streams): Orvane skips list entries containing them.
WINDOWS_FORBIDDEN = set('<>:"|?*')
# Orvane requests base URL + path without escaping: a '#' would end the path
# and a '%' would be decoded by the server into another name.
URL_UNSAFE = set("#%")
# Windows takes the superscript digits 1 to 3 as digits too (COM¹ is COM1).
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {
    prefix + digit for prefix in ("COM", "LPT") for digit in "123456789\u00b9\u00b2\u00b3"
}
# The program's own files beside it at the top of the game directory
# (src/base/Paths.h): no list entry may write them, nor their leftovers
# ("Orvane.log.1", "Orvane.exe.orvold"); Orvane.exe itself is its own entry.
OWN_FILE_NAMES = ("config.ini", "setup.ini", "Orvane.log")
# What an update leaves in the folders it writes while it runs (partial files)
# or when cut off (moved-aside targets, temporary files): the next update
# resumes, moves back or removes files of these names, so none is published.
PARTIAL_SUFFIX = ".orvpart"
ASIDE_SUFFIX = ".orvold"
TEMP_PREFIX, TEMP_SUFFIX = "orv", ".tmp"


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


def not_written_reason(rel):
    """Why the players' copies would never write the entry `rel` (a path
    without a publishing problem) although Windows could hold it, or None."""
    name = rel.rsplit("/", 1)[-1].casefold()
    own = tuple(n.casefold() for n in OWN_FILE_NAMES)
    # A name cannot end in a dot here, so "<own>." is always followed by more.
    leftover = tuple(n + "." for n in own + (PROGRAM_NAME.casefold(),))
    if "/" not in rel and (name in own or name.startswith(leftover)):
        return "the program's own file, which Orvane never takes from a list"
    if name.endswith((PARTIAL_SUFFIX, ASIDE_SUFFIX)) or \
            (name.startswith(TEMP_PREFIX) and name.endswith(TEMP_SUFFIX)):
        return ("named as what an update leaves behind, which Orvane's next update "
                "resumes, moves back or removes")
    return None


def is_program(rel):
    """The program's own entry: PROGRAM_NAME directly in the client folder,
    in any letter case, as the players' copies decide it."""
    return "/" not in rel and rel.casefold() == PROGRAM_NAME.casefold()


def program_image_problem(head):
    """Why the first bytes of a program file (at least the PE headers) show
    a file that not every player can start, or None. A player's copy that
    cannot start its update puts itself back, so the update fails at the
    program for good."""
    if len(head) < 0x40 or head[:2] != b"MZ":
        return "not a Windows program (no MZ header)"
    offset = int.from_bytes(head[0x3C:0x40], "little")
    if offset + 6 > len(head) or head[offset:offset + 4] != b"PE\0\0":
        return "not a Windows program (no PE header)"
    machine = int.from_bytes(head[offset + 4:offset + 6], "little")
    if machine == MACHINE_AMD64:
        return "a 64-bit build: players on 32-bit Windows cannot start it (ship the mingw-i686 build)"
    if machine != MACHINE_I386:
        return "built for machine type 0x%04x, not for 32-bit x86" % machine
    return None


def read_head(path):
    with open(path, "rb") as f:
        return f.read(PE_HEADER_BYTES)


def collect_files(client):
    """The client folder's files as (relative path, real path), sorted; the
    real path has no symbolic link in it and lies inside the client folder's
    real path.

    Raises Refused listing every name that cannot be published."""
    client_real = os.path.realpath(client)
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
            elif os.path.islink(full) and not is_inside(full, client_real):
                # A link out of the client folder would publish whatever it
                # names (a signing key, the operator's home) to every player.
                problems.append("%s: symbolic link to %s, outside the client folder"
                                % (rel, _show(os.path.realpath(full))))
            elif not os.path.isfile(full):
                problems.append("%s: not a regular file" % rel)
            else:
                found.append((rel, os.path.realpath(full)))

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
    return version_of(document)


def relay_urls(relay_text):
    """The base URLs of a relay's answer as Orvane takes them: its lines that
    are not empty once trimmed, the portal's own first, then its mirrors."""
    return [line for line in (line.strip(" \t\r\n") for line in relay_text.splitlines()) if line]


def served_base_url(relay_text):
    """The base URL of a relay's answer as Orvane takes it: its first URL."""
    urls = relay_urls(relay_text)
    return urls[0] if urls else ""


def previous_version(portal, list_name, candidate_bases):
    """Highest version published in the portal: the list url.txt points at and
    the lists in the given base folders."""
    bases = list(candidate_bases)
    try:
        with open(os.path.join(portal, RELAY_NAME), encoding="utf-8") as f:
            current = served_base_url(f.read())
        bases.append(base_path_of(current))
    except FileNotFoundError:
        pass
    except (OSError, ValueError, Refused):
        pass  # a relay that does not name a folder here has no version to continue
    return max([published_version(os.path.join(portal, b, list_name)) for b in bases] + [0])


def current_version(portal, list_name=LIST_NAME, key=None):
    """The version of the list the portal folder serves now (the one its
    url.txt points at), as a release's minimum. With `key`, the list's
    signature must verify with it. Raises Failed when there is none."""
    relay = os.path.join(portal, RELAY_NAME)
    try:
        with open(relay, encoding="utf-8") as f:
            current = served_base_url(f.read())
    except FileNotFoundError:
        raise Failed("no %s in %s: nothing is published there" % (RELAY_NAME, portal))
    except (OSError, ValueError) as e:
        raise Failed("cannot read %s: %s" % (relay, e))
    try:
        base = base_path_of(current if current.endswith("/") else current + "/")
    except Refused as e:
        raise Failed("%s does not name a folder of this portal: %s" % (relay, e))
    list_file = os.path.join(portal, base, list_name)
    if not os.path.isfile(list_file):
        raise Failed("%s names %s, which holds no %s" % (relay, current, list_name))
    if key is not None:
        with open(list_file, "rb") as f:
            data = f.read()
        try:
            with open(list_file + SIGNATURE_SUFFIX, "rb") as f:
                signature = f.read()
        except FileNotFoundError:
            raise Failed("%s is not signed" % list_file)
        if not signature_verifies(key, data, signature):
            raise Failed("the signature of %s does not verify with %s" % (list_file, key))
    return published_version(list_file)


def byte_count(n):
    """A byte count for people: "512 B", "3.4 MiB", "21.0 GiB"."""
    if n < 1024:
        return "%d B" % n
    for unit in ("KiB", "MiB", "GiB"):
        n /= 1024.0
        if n < 1024 or unit == "GiB":
            return "%.1f %s" % (n, unit)


class Progress:
    """Bytes and files done of a known total, shown on stderr with the time
    left at the rate so far: rewritten in place about once a second on a
    terminal, a line every ten seconds otherwise, and a last line at the end.
    Safe to feed from several threads."""

    def __init__(self, what, total_bytes, total_files, stream=None):
        self.what = what
        self.total_bytes = total_bytes
        self.total_files = total_files
        self.stream = stream or sys.stderr
        self.bytes = 0
        self.files = 0
        self.started = time.monotonic()
        self.shown = self.started
        self.lock = threading.Lock()
        self.in_place = self.stream.isatty()
        self.interval = 1.0 if self.in_place else 10.0

    def add(self, amount, file_done=False):
        with self.lock:
            self.bytes += amount
            self.files += 1 if file_done else 0
            now = time.monotonic()
            if now - self.shown >= self.interval:
                self.shown = now
                self._show(now, "" if self.in_place else "\n")

    def finish(self):
        with self.lock:
            self._show(time.monotonic(), "\n")

    def _show(self, now, end):
        elapsed = now - self.started
        rate = self.bytes / elapsed if elapsed > 0 else 0
        if self.bytes >= self.total_bytes and self.files >= self.total_files:
            left = "done in %s" % _duration(elapsed)
        elif rate > 0:
            left = "about %s left" % _duration((self.total_bytes - self.bytes) / rate)
        else:
            left = "time left unknown"
        line = "%s: %s of %s, %d of %d files, %s/s, %s" % (
            self.what, byte_count(self.bytes), byte_count(self.total_bytes), self.files,
            self.total_files, byte_count(int(rate)), left)
        # In place: the line overwrites the last one from its start.
        self.stream.write("\r" + line.ljust(79) + end if self.in_place else line + end)
        self.stream.flush()


def _duration(seconds):
    seconds = int(seconds + 0.5)
    return "%d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)


# Opening a file with it fails on a symbolic link instead of following it
# (absent on Windows).
NO_FOLLOW = getattr(os, "O_NOFOLLOW", 0)
SWAPPED_LINK = "%s: became a symbolic link while publishing (not followed); nothing published"


def open_inside(folder, path, rel):
    """Opens the regular file `path`, a real path below the real path
    `folder`, for reading, following no symbolic link: each folder on the way
    and the file itself are opened relative to the one before with
    O_NOFOLLOW, so a link swapped in after the client folder was listed is
    refused, not followed. `rel` names the file in messages."""
    if not NO_FOLLOW or os.open not in os.supports_dir_fd:
        # No way to open without following: check just before opening.
        if os.path.realpath(path) != path:
            raise Refused(SWAPPED_LINK % rel)
        return open(path, "rb")
    parts = os.path.relpath(path, folder).split(os.sep)
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for part in parts[:-1]:
            inner = os.open(part, os.O_RDONLY | os.O_DIRECTORY | NO_FOLLOW, dir_fd=fd)
            os.close(fd)
            fd = inner
        # O_NONBLOCK: a pipe swapped in must not hold the open for ever.
        inner = os.open(parts[-1], os.O_RDONLY | NO_FOLLOW | os.O_NONBLOCK, dir_fd=fd)
    except OSError as e:
        # ELOOP (Linux) or EMLINK (BSD) for a link as the last name, ENOTDIR
        # for a link or file where a folder was.
        if e.errno in (errno.ELOOP, errno.EMLINK, errno.ENOTDIR):
            raise Refused(SWAPPED_LINK % rel)
        raise
    finally:
        os.close(fd)
    if not stat.S_ISREG(os.fstat(inner).st_mode):
        os.close(inner)
        raise Refused("%s: no longer a regular file" % rel)
    os.set_blocking(inner, True)
    return os.fdopen(inner, "rb")


def copy_with_digest(src, target, progress=None, sha256=False):
    """Copies the open file `src` and returns (digests, size) of the bytes
    written, so the list describes exactly the published copy even if the
    source changes. digests: {"hash": MD5}, and "sha256" when asked for (a
    signed list binds each file by both; MD5 alone has twins)."""
    hashes = {"hash": hashlib.md5()}
    if sha256:
        hashes["sha256"] = hashlib.sha256()
    size = 0
    with src, open(target, "wb") as dst:
        while True:
            chunk = src.read(CHUNK)
            if not chunk:
                break
            for digest in hashes.values():
                digest.update(chunk)
            dst.write(chunk)
            size += len(chunk)
            if progress:
                progress.add(len(chunk))
    return {name: digest.hexdigest() for name, digest in hashes.items()}, size


class DigestCache:
    """Digests of client files published earlier, keyed by the file's real
    path, size and modification time, with where its published copy lies in
    the portal. Stored beside the portal folder, never inside what it serves."""

    FORMAT = 1

    def __init__(self, portal, use_earlier):
        portal = os.path.abspath(portal).rstrip(os.sep)
        self.portal = portal
        self.file = portal + DIGEST_CACHE_SUFFIX
        self.earlier = self._load() if use_earlier else {}
        self.current = {}
        self.started_ns = time.time_ns()

    def _load(self):
        try:
            with open(self.file, encoding="utf-8") as f:
                document = json.load(f)
            if document.get("format") == self.FORMAT and isinstance(document.get("files"), dict):
                return document["files"]
        except (OSError, ValueError, AttributeError):
            pass  # no cache, or one this version cannot read: everything is hashed
        return {}

    def reuse(self, source, info, target, sha256):
        """Links the published copy of an unchanged source file to target and
        returns its digests as copy_with_digest does, or None when the file
        must be hashed (also when a SHA-256 is asked for and none is kept)."""
        entry = self.earlier.get(os.path.realpath(source))
        try:
            if (entry is None or entry["size"] != info.st_size
                    or entry["mtime_ns"] != info.st_mtime_ns
                    or (sha256 and not isinstance(entry.get("sha256"), str))):
                return None
            published = os.path.join(self.portal, *entry["published"].split("/"))
            copy = os.stat(published)
            if copy.st_size != info.st_size or copy.st_mtime_ns != entry["published_mtime_ns"]:
                return None  # the published copy was changed or removed since
            os.link(published, target)
            digests = {"hash": entry["md5"]}
            if isinstance(entry.get("sha256"), str):
                digests["sha256"] = entry["sha256"]  # kept for a later signed publish
            return digests
        except (OSError, KeyError, TypeError, AttributeError):
            return None

    def remember(self, source, info, digests, target, published):
        """Keeps the digests for the next publish, unless the file changed so
        recently that a further change might not move its time."""
        if info.st_mtime_ns >= self.started_ns - RACY_NS:
            return
        kept = {"size": info.st_size, "mtime_ns": info.st_mtime_ns, "md5": digests["hash"],
                "published": published, "published_mtime_ns": os.stat(target).st_mtime_ns}
        if "sha256" in digests:
            kept["sha256"] = digests["sha256"]
        self.current[os.path.realpath(source)] = kept

    def save(self):
        """Replaces the stored cache; a cache that cannot be written only
        costs the next publish time, so that is a warning."""
        try:
            with tempfile.NamedTemporaryFile("w", encoding="utf-8", delete=False,
                                             dir=os.path.dirname(self.file),
                                             prefix=".digests-") as f:
                json.dump({"format": self.FORMAT, "files": self.current}, f, sort_keys=True)
            os.replace(f.name, self.file)
        except OSError as e:
            print("portal.py: warning: cannot write the digest cache %s: %s" % (self.file, e),
                  file=sys.stderr)


def list_text(version, entries, name=None, connections=None):
    """The list as published: one entry a line, readable in any text viewer.
    A signed list names itself (`name`, the file name it is served under), so
    that it cannot be served in place of another list. `connections`, when
    given, is how many files Orvane may fetch at once."""
    lines = ",\n".join(json.dumps(entry, ensure_ascii=False) for entry in entries)
    body = "\n" + lines + "\n" if entries else ""
    named = "" if name is None else ' "name": %s,' % json.dumps(name, ensure_ascii=False)
    allowed = "" if connections is None else ' "connections": %d,' % connections
    return '{"version": %d,%s%s "files": [%s]}\n' % (version, named, allowed, body)


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


def mirror_base_url(url, version):
    """A mirror's line in url.txt: "{version}" replaced, a final "/" added."""
    url = url.replace("{version}", str(version))
    parts = urllib.parse.urlsplit(url)
    if (parts.scheme not in ("http", "https") or not parts.hostname or parts.query
            or parts.fragment or any(c.isspace() for c in url)):
        raise Refused("--mirror must be an http:// or https:// URL with a host and no query, "
                      "fragment or spaces: %s" % url)
    return url if url.endswith("/") else url + "/"


def relay_lines(base_url, mirrors):
    """url.txt's lines: the base URL, then each mirror once, in order."""
    lines = [base_url]
    for mirror in mirrors:
        if mirror not in lines:
            lines.append(mirror)
    return lines


def publish(client, portal, base_url, version="auto", key=None, list_name=LIST_NAME,
            rehash=False, connections=None, mirrors=()):
    """Builds or refreshes the portal; returns (version, number of files,
    number of files hashed, bytes hashed)."""
    for mirror in mirrors:
        mirror_base_url(mirror, 1)  # refused before anything is written
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
    client_real = os.path.realpath(client)
    files = []
    for rel, source in collect_files(client):
        reason = not_written_reason(rel)
        if reason:
            # Left there by a copy of Orvane run in the client folder, most likely.
            print("portal.py: warning: %s not published: %s" % (rel, reason), file=sys.stderr)
        else:
            files.append((rel, source))
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
    for rel, source in files:
        if is_program(rel):
            problem = program_image_problem(read_head(source))
            if problem and problem.startswith("not a Windows program"):
                # Every player's update would fail at it.
                raise Refused("%s: %s" % (rel, problem))
            if problem:
                print("portal.py: warning: %s: %s" % (rel, problem), file=sys.stderr)

    final = os.path.join(portal, base)
    parent = os.path.dirname(final.rstrip("/"))
    os.makedirs(parent, exist_ok=True)
    cache = DigestCache(portal, use_earlier=not rehash)
    staging = tempfile.mkdtemp(prefix=".publish-", dir=parent)
    signing = key is not None
    try:
        sources = []
        to_hash = []
        digests = {}
        for rel, source in files:
            target = os.path.join(staging, *rel.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            info = os.lstat(source)
            if stat.S_ISLNK(info.st_mode):
                raise Refused(SWAPPED_LINK % rel)
            if not stat.S_ISREG(info.st_mode):
                raise Refused("%s: no longer a regular file" % rel)
            kept = cache.reuse(source, info, target, signing)
            if kept is None:
                to_hash.append((rel, source, target, info))
            else:
                cache.remember(source, info, kept, target, base + rel)
                digests[rel] = (kept, info.st_size)
            sources.append(rel)
        progress = Progress("hashing", sum(item[3].st_size for item in to_hash), len(to_hash))
        for rel, source, target, info in to_hash:
            digests[rel] = copy_with_digest(open_inside(client_real, source, rel), target,
                                            progress, sha256=signing)
            progress.add(0, file_done=True)
            if digests[rel][1] == info.st_size:
                cache.remember(source, info, digests[rel][0], target, base + rel)
        if to_hash:
            progress.finish()
        entries = []
        for rel in sources:
            found, size = digests[rel]
            entry = {"path": rel, "hash": found["hash"], "size": size}
            if signing:
                entry["sha256"] = found["sha256"]
            entries.append(entry)
        list_bytes = list_text(version, entries, list_name if signing else None,
                               connections).encode("utf-8")
        list_file = os.path.join(staging, list_name)
        with open(list_file, "wb") as f:
            f.write(list_bytes)
        if signing:
            sign_file(key, list_file)
        os.chmod(staging, 0o755)
        _swap_in(staging, final.rstrip("/"))
        staging = None
    finally:
        if staging is not None:
            shutil.rmtree(staging, ignore_errors=True)

    relay = os.path.join(portal, RELAY_NAME)
    lines = relay_lines(base_url_fixed, [mirror_base_url(m, version) for m in mirrors])
    try:
        with open(relay, encoding="utf-8", errors="replace") as f:
            earlier_mirrors = relay_urls(f.read())[1:]
    except OSError:
        earlier_mirrors = []
    # A mirror is its server: the same one under another release's folder is kept.
    server = lambda url: urllib.parse.urlsplit(url)[:2]
    kept = {server(line) for line in lines}
    dropped = [url for url in earlier_mirrors if server(url) not in kept]
    if dropped:
        print("portal.py: warning: url.txt no longer names the mirror%s %s (give each mirror "
              "with --mirror at every publish)" % ("s" if len(dropped) > 1 else "", ", ".join(dropped)),
              file=sys.stderr)
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", dir=portal, prefix=".url-",
                                     delete=False) as f:
        f.write("".join(line + "\n" for line in lines))
    os.chmod(f.name, 0o644)
    os.replace(f.name, relay)
    cache.save()
    return version, len(files), len(to_hash), progress.bytes


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


def version_of(document):
    """The list's version as Orvane reads it: a whole number from 0 up under
    "version" in an object, else 0."""
    version = document.get("version") if isinstance(document, dict) else None
    if isinstance(version, int) and not isinstance(version, bool) and version >= 0:
        return version
    return 0


class PortalCheck:
    """One run of `verify`: collects problems and prints each as it is found."""

    def __init__(self, out=None):
        self.out = out or sys.stdout
        self.problems = 0
        self.lock = threading.Lock()

    def problem(self, text):
        with self.lock:
            self.problems += 1
            print("PROBLEM: " + text, file=self.out, flush=True)

    def fetch(self, url, what, limit):
        """The body of a 200 answer of at most `limit` bytes, or None after
        reporting why not. Reads no more than one byte past the limit."""
        problem = url_problem(url)
        if problem:
            self.problem("%s %s: %s" % (what, url, problem))
            return None
        try:
            with _open_url(url) as response:
                if response.status != 200:
                    self.problem("%s %s: status %d (only 200 counts)" % (what, url, response.status))
                    return None
                announced = response.getheader("Content-Length", "")
                if announced.isdigit() and int(announced) > limit:
                    self.problem("%s %s: announces %s bytes, more than %d (Orvane refuses it)"
                                 % (what, url, announced, limit))
                    return None
                body = read_at_most(response, limit + 1)
                if len(body) > limit:
                    self.problem("%s %s: more than %d bytes (Orvane refuses it)"
                                 % (what, url, limit))
                    return None
                return body
        except urllib.error.HTTPError as e:
            self.problem("%s %s: status %d (only 200 counts)" % (what, url, e.code))
        except (urllib.error.URLError, http.client.HTTPException, OSError, ValueError) as e:
            self.problem("%s %s: %s" % (what, url, getattr(e, "reason", e)))
        return None


def url_problem(url):
    """Why Orvane could not fetch `url` as meant, or None."""
    scheme = urllib.parse.urlsplit(url).scheme.lower()
    if scheme not in URL_SCHEMES:
        return "not an http:// or https:// URL"
    return None


def read_at_most(response, limit):
    """The body's first `limit` bytes, or all of it when shorter."""
    body = b""
    while len(body) < limit:
        chunk = response.read(min(CHUNK, limit - len(body)))
        if not chunk:
            break
        body += chunk
    return body


class RedirectRefused(urllib.error.URLError):
    pass


class OrvaneRedirects(urllib.request.HTTPRedirectHandler):
    """Follows a redirect only where Orvane does: to http or https, and never
    from https to http (its HttpClient sets WinHTTP's
    REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP)."""

    def redirect_request(self, req, fp, code, msg, headers, newurl):
        old = urllib.parse.urlsplit(req.full_url).scheme.lower()
        new = urllib.parse.urlsplit(newurl).scheme.lower()
        if new not in URL_SCHEMES or (old == "https" and new != "https"):
            fp.close()
            raise RedirectRefused("redirected to %s, which Orvane does not follow "
                                  "(only http and https, never from https to http)" % newurl)
        return super().redirect_request(req, fp, code, msg, headers, newurl)


_OPENER = urllib.request.build_opener(OrvaneRedirects)


def _open_url(url):
    request = urllib.request.Request(url, headers={"User-Agent": "Orvane-portal-verify"})
    return _OPENER.open(request, timeout=HTTP_TIMEOUT_S)


def _file_url(base, path):
    # Orvane requests the path as listed; only what cannot go into a request
    # line unchanged (non-ASCII, spaces) is escaped, as its HTTP stack does.
    return base + urllib.parse.quote(path, safe="/!$&'()*+,;=:@\\")


def is_sha256_hex(text):
    """A SHA-256 as a signed list must give it: 64 lower-case hexadecimal digits."""
    return isinstance(text, str) and len(text) == 64 and all(c in "0123456789abcdef" for c in text)


def read_entries(check, document, signed=False):
    """The entries Orvane would download, as (path, md5, size, sha256 or
    None), after reporting every one it would skip or that could never match.
    On a signed portal an entry without a well-formed "sha256" is a problem
    too (Orvane with a key refuses the list). None when Orvane cannot read
    the list."""
    if isinstance(document, list):
        elements = document
    elif isinstance(document, dict) and "files" in document:
        elements = document["files"]
        if not isinstance(elements, list):
            check.problem('list: "files" is not an array')
            return None
    else:
        check.problem('list: neither an array nor an object with "files"')
        return None
    entries = []
    seen = {}
    for number, element in enumerate(elements, 1):
        where = "list entry %d" % number
        if not isinstance(element, dict) or not all(k in element for k in ("path", "hash", "size")):
            check.problem("%s: not an object with path, hash and size (Orvane skips it)" % where)
            continue
        path, md5, size = element["path"], element["hash"], element["size"]
        if not isinstance(path, str) or not isinstance(md5, str) or not isinstance(size, int) \
                or isinstance(size, bool):
            # A wrong JSON type stops Orvane reading the whole list.
            check.problem("%s: path and hash must be strings and size a whole number "
                          "(Orvane cannot read the list)" % where)
            return None
        where = "%s %r" % (where, path)
        problem = path_problem(path)
        if problem:
            check.problem("%s: unsafe path: %s" % (where, problem))
            continue
        problem = not_written_reason(path)
        if problem:
            check.problem("%s: %s" % (where, problem))
            continue
        if len(md5) != 32 or any(c not in "0123456789abcdefABCDEF" for c in md5):
            check.problem("%s: hash %r is not an MD5 digest in hexadecimal" % (where, md5))
            continue
        if size < 0:
            check.problem("%s: negative size %d" % (where, size))
            continue
        key = unicodedata.normalize("NFC", path).casefold()
        if key in seen:
            check.problem("%s: same file on Windows as %r (letter case)" % (where, seen[key]))
            continue
        seen[key] = path
        sha256 = element.get("sha256")
        if not is_sha256_hex(sha256):
            if signed:
                check.problem("%s: no \"sha256\" of 64 lower-case hexadecimal digits "
                              "(Orvane with a key refuses the list)" % where)
            sha256 = None
        entries.append((path, md5.lower(), size, sha256))
    return entries


def check_file(check, progress, base, path, md5, size, sha256):
    url = _file_url(base, path)
    digest = hashlib.md5()
    long_digest = hashlib.sha256() if sha256 else None
    received = 0
    head = b""  # of the program: its headers
    try:
        with _open_url(url) as response:
            if response.status != 200:
                check.problem("%s: status %d (only 200 counts)" % (url, response.status))
                return
            # Orvane refuses a body longer than the listed size: read no further.
            while received <= size:
                chunk = response.read(min(CHUNK, size + 1 - received))
                if not chunk:
                    break
                digest.update(chunk)
                if long_digest:
                    long_digest.update(chunk)
                if is_program(path) and len(head) < PE_HEADER_BYTES:
                    head += chunk[:PE_HEADER_BYTES - len(head)]
                received += len(chunk)
                progress.add(len(chunk))
    except urllib.error.HTTPError as e:
        check.problem("%s: status %d (only 200 counts)" % (url, e.code))
        return
    except (urllib.error.URLError, http.client.HTTPException, OSError, ValueError) as e:
        check.problem("%s: %s after %d bytes" % (url, getattr(e, "reason", e), received))
        return
    finally:
        progress.add(size - min(received, size), file_done=True)
    if received > size:
        check.problem("%s: longer than the listed size %d" % (url, size))
    elif received < size:
        check.problem("%s: %d bytes, the list says %d" % (url, received, size))
    elif digest.hexdigest() != md5:
        check.problem("%s: MD5 %s, the list says %s" % (url, digest.hexdigest(), md5))
    elif long_digest and long_digest.hexdigest() != sha256:
        check.problem("%s: SHA-256 %s, the list says %s" % (url, long_digest.hexdigest(), sha256))
    elif is_program(path) and program_image_problem(head):
        check.problem("%s: the program is %s" % (url, program_image_problem(head)))


def mirrors_of_relay(check, relay_url, relay):
    """The base URLs the relay's text names, one a line, as Orvane reads
    them (each line trimmed, empty lines and repeats dropped, a final '/'
    added), after reporting one that Orvane could not fetch from."""
    if relay.startswith(b"\xef\xbb\xbf"):
        # Orvane takes the relay's bytes as they are: a byte order mark is
        # part of the URL to it (an editor's "UTF-8 with BOM").
        check.problem("relay %s: starts with a UTF-8 byte order mark" % relay_url)
        return []
    mirrors = []
    for line in relay.decode("utf-8", "replace").replace("\r", "\n").split("\n"):
        base = line.strip(RELAY_TRIMMED)
        if base == "":
            continue
        if any(ord(c) < 0x20 or ord(c) == 0x7F for c in base):
            check.problem("relay %s: base URL %r contains control characters" % (relay_url, base))
            continue
        if url_problem(base):
            check.problem("relay %s: base URL %r is %s" % (relay_url, base, url_problem(base)))
            continue
        base += "" if base.endswith("/") else "/"
        if base not in mirrors:
            mirrors.append(base)
    if not mirrors and check.problems == 0:
        check.problem("relay %s: empty" % relay_url)
    return mirrors


def verify_mirror(check, base, key, min_version, list_name, jobs, first_list):
    """Checks one mirror's list and files; returns its list's bytes (None
    when it has none). `first_list`: the bytes of the first mirror's list,
    which every other mirror must serve too."""
    list_url = base + list_name
    list_bytes = check.fetch(list_url, "list", MAX_LIST_BYTES)
    if list_bytes is None:
        return None
    if first_list is not None and list_bytes != first_list:
        # Orvane takes the list of whichever mirror answers first.
        check.problem("list %s: differs from the first mirror's list" % list_url)
    if key is not None:
        signature = check.fetch(list_url + SIGNATURE_SUFFIX, "signature", MAX_SIGNATURE_BYTES)
        if signature is not None and not signature_verifies(key, list_bytes, signature):
            check.problem("signature %s%s: does not verify the list with %s"
                          % (list_url, SIGNATURE_SUFFIX, key))
    try:
        document = json.loads(list_bytes.decode("utf-8"))
    except ValueError as e:
        check.problem("list %s: not JSON in UTF-8: %s" % (list_url, e))
        return list_bytes
    version = version_of(document)
    if version < min_version:
        check.problem("list %s: version %d is older than %d" % (list_url, version, min_version))
    if key is not None:
        name = document.get("name") if isinstance(document, dict) else None
        if name != list_name:
            # Orvane with a key takes a list only under the name it was signed for.
            check.problem("list %s: %s, not %r (Orvane with a key refuses it)" % (
                list_url, "named %r" % (name,) if name is not None else "names no file name",
                list_name))
    entries = read_entries(check, document, signed=key is not None)
    if entries is None:
        return list_bytes
    print("list %s: version %d, %d files, %s" % (
        list_url, version, len(entries), byte_count(sum(e[2] for e in entries))))

    progress = Progress("verify", sum(e[2] for e in entries), len(entries))
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for done in [pool.submit(check_file, check, progress, base, *e) for e in entries]:
            done.result()
    progress.finish()
    return list_bytes


def verify(portal_url, key=None, min_version=0, list_name=LIST_NAME, jobs=4):
    """Checks a live portal, every mirror its relay names; returns the number
    of problems found."""
    check = PortalCheck()
    portal_url += "" if portal_url.endswith("/") else "/"
    relay_url = portal_url + RELAY_NAME
    relay = check.fetch(relay_url, "relay", MAX_RELAY_BYTES)
    if relay is None:
        return check.problems
    mirrors = mirrors_of_relay(check, relay_url, relay)
    first_list = None
    for number, base in enumerate(mirrors, 1):
        print("relay %s: base URL %s%s" % (
            relay_url, base, " (mirror %d of %d)" % (number, len(mirrors)) if len(mirrors) > 1 else ""))
        served_list = verify_mirror(check, base, key, min_version, list_name, jobs, first_list)
        if number == 1:
            first_list = served_list
    return check.problems


def signature_verifies(key, data, signature):
    with tempfile.TemporaryDirectory() as folder:
        data_file = os.path.join(folder, "list")
        signature_file = data_file + SIGNATURE_SUFFIX
        for name, content in ((data_file, data), (signature_file, signature)):
            with open(name, "wb") as f:
                f.write(content)
        try:
            run_openssl(["dgst", "-sha256", "-verify", key, "-signature", signature_file,
                         data_file], "verify the signature")
        except Failed:
            return False
    return True


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


def parse_connections(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("a whole number from 1 to %d" % MAX_CONNECTIONS)
    if not 1 <= value <= MAX_CONNECTIONS:
        raise argparse.ArgumentTypeError("a whole number from 1 to %d" % MAX_CONNECTIONS)
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
    p.add_argument("--rehash", action="store_true",
                   help="hash every file again instead of trusting the digest cache")
    p.add_argument("--mirror", action="append", default=[], metavar="URL",
                   help="a mirror's base URL, written to url.txt after --base-url (repeatable)")
    p.add_argument("--connections", type=parse_connections, metavar="N",
                   help="files Orvane may fetch at once, 1 to %d (default: one after the other)"
                   % MAX_CONNECTIONS)
    c = commands.add_parser("current-version", help="print the version a portal folder serves")
    c.add_argument("portal")
    c.add_argument("--list-name", default=LIST_NAME)
    c.add_argument("--key", metavar="PUBLIC_KEY", help="the list's signature must verify with it")
    v = commands.add_parser("verify", help="check a live portal as Orvane reads it")
    v.add_argument("url", help="the portal URL Orvane is configured with (PortalUrl)")
    v.add_argument("--key", metavar="PUBLIC_KEY", help="check the list's signature with it")
    v.add_argument("--min-version", type=int, default=0,
                   help="report a list version below this one")
    v.add_argument("--list-name", default=LIST_NAME)
    v.add_argument("--jobs", type=int, default=4, help="files fetched at once (default 4)")
    args = parser.parse_args(argv)

    try:
        if args.command == "keygen":
            private, public = keygen(args.dir)
            print("private key: %s (keep it secret)\npublic key:  %s" % (private, public))
        elif args.command == "current-version":
            if args.key is not None and not os.path.isfile(args.key):
                raise Refused("key not found: %s" % args.key)
            print(current_version(args.portal, args.list_name, args.key))
        elif args.command == "publish":
            version, count, hashed, hashed_bytes = publish(
                args.client, args.portal, args.base_url, args.version, args.sign,
                args.list_name, args.rehash, args.connections, args.mirror)
            print("published version %d: %d files in %s (hashed %d, %s; the other %d "
                  "from the digest cache)" % (version, count, args.portal, hashed,
                                              byte_count(hashed_bytes), count - hashed))
        else:
            if args.key is not None and not os.path.isfile(args.key):
                raise Refused("key not found: %s" % args.key)
            if args.jobs < 1:
                raise Refused("--jobs must be 1 or more")
            problems = verify(args.url, args.key, args.min_version, args.list_name, args.jobs)
            if problems:
                print("verify: %d problem%s found" % (problems, "" if problems == 1 else "s"))
                return 1
            print("verify: no problems")
    except Refused as e:
        print("portal.py: refused: %s" % e, file=sys.stderr)
        return 2
    except (Failed, OSError) as e:
        print("portal.py: failed: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
