"""What happens to the files below a folder, as it happens: Linux inotify
through ctypes (no package needed), on the folder and every folder below it,
also those made while it is watched.

A Wine program's file calls become Linux calls on the same files (opened by
the program or by its wineserver), so the events tell what Orvane does
without slowing it: the check opening a listed file to hash it, a partial
file created and growing, closed once flushed, an attribute cleared, a new
file moved in.

  FileEvents(folder, handle)   calls handle(mask, relative path) on a thread
                               of its own for each event; .close() ends it
"""

import ctypes
import ctypes.util
import os
import select
import struct
import threading

IN_MODIFY = 0x2
IN_ATTRIB = 0x4
IN_CLOSE_WRITE = 0x8
IN_OPEN = 0x20
IN_MOVED_TO = 0x80
IN_CREATE = 0x100
IN_Q_OVERFLOW = 0x4000
IN_ISDIR = 0x40000000
WATCHED = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_OPEN | IN_MOVED_TO | IN_CREATE

_HEADER = struct.Struct("iIII")   # wd, mask, cookie, length of the name


class FileEvents:
    def __init__(self, folder, handle):
        self.folder = os.path.abspath(folder)
        self.handle = handle
        self.error = None          # what stopped the thread, if anything did
        self.overflowed = False    # the kernel dropped events
        self._libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        self._fd = self._libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self._fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        self._folders = {}         # watch descriptor -> folder relative to self.folder ("" the top)
        self._closing = threading.Event()
        self._watch_below("")
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def close(self):
        self._closing.set()
        self._thread.join(5)
        os.close(self._fd)

    def _watch(self, rel):
        wd = self._libc.inotify_add_watch(self._fd, os.fsencode(os.path.join(self.folder, rel)), WATCHED)
        if wd >= 0:
            self._folders[wd] = rel

    def _watch_below(self, rel):
        """Watches rel and every folder below it; a folder made (and filled)
        before its watch was added has its files reported as created."""
        self._watch(rel)
        for current, folders, files in os.walk(os.path.join(self.folder, rel)):
            below = os.path.relpath(current, self.folder)
            below = "" if below == "." else below
            for name in folders:
                self._watch(os.path.join(below, name))
            if rel:
                for name in files:
                    self.handle(IN_CREATE, os.path.join(below, name).replace(os.sep, "/"))

    def _run(self):
        try:
            while not self._closing.is_set():
                readable, _, _ = select.select([self._fd], [], [], 0.1)
                if not readable:
                    continue
                try:
                    data = os.read(self._fd, 1 << 16)
                except BlockingIOError:
                    continue
                offset = 0
                while offset < len(data):
                    wd, mask, _, length = _HEADER.unpack_from(data, offset)
                    name = data[offset + _HEADER.size:offset + _HEADER.size + length].rstrip(b"\0")
                    offset += _HEADER.size + length
                    if mask & IN_Q_OVERFLOW:
                        self.overflowed = True
                        continue
                    if wd not in self._folders or not name:
                        continue
                    rel = os.path.join(self._folders[wd], os.fsdecode(name))
                    if mask & IN_ISDIR:
                        if mask & (IN_CREATE | IN_MOVED_TO):
                            self._watch_below(rel)
                        continue
                    self.handle(mask, rel.replace(os.sep, "/"))
        except Exception as e:  # noqa: BLE001 - reported to the test, which fails on it
            self.error = e
