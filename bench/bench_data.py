#!/usr/bin/env python3
"""Makes the benchmark's game directories and portal folders.

  bench_data.py DIR CHECK_MIB SMALL_FILES BIG_MIB LATENCY_FILES PROXY_PORT

DIR/check-game    2,000 files, CHECK_MIB MiB in all: four large archives and
                  many small files (some with Chinese names), as a client is
DIR/www/check     its file list (url.txt -> http://127.0.0.1/check/files/)
DIR/check.md5     the same digests for md5sum -c
DIR/www/check0    an empty list on the same relay, and DIR/check0.md5 empty: what
                  a run costs apart from its files
DIR/www/small     SMALL_FILES files of 16 KiB and their list
DIR/curl-small    a curl config fetching them all in one process
DIR/small-names   their names, one a line
DIR/www/big       one file of BIG_MIB MiB and its list
DIR/www/lat       LATENCY_FILES of the small files, listed, fetched through the
                  proxy on PROXY_PORT (url.txt -> http://127.0.0.1:PORT/lat/files/)
DIR/curl-lat      the curl config for those through the proxy
DIR/www/small4    the small files again, listed with "connections": 4
DIR/www/lat4      the latency files again, listed with "connections": 4, through
                  the proxy
"""

import hashlib
import json
import os
import sys


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def publish(www, name, root, rels, base, connections=None):
    entries = [{"path": rel, "hash": md5_of(os.path.join(root, rel)),
                "size": os.path.getsize(os.path.join(root, rel))} for rel in rels]
    document = {"files": entries}
    if connections is not None:
        document["connections"] = connections
    write(os.path.join(www, name, "files", "filelist.json"),
          json.dumps(document, ensure_ascii=False).encode("utf-8"))
    write(os.path.join(www, name, "url.txt"), (base + "\n").encode())
    return entries


def main():
    out, check_mib, small_files, big_mib, latency_files, proxy_port = sys.argv[1:7]
    check_mib, small_files, big_mib, latency_files = map(int, (check_mib, small_files, big_mib, latency_files))
    www = os.path.join(out, "www")

    # The check: four archives hold most of the bytes, 1,996 small files the rest.
    game = os.path.join(out, "check-game")
    rels = []
    small_total = 0
    for i in range(1996):
        folder = ["Interface/AddOns/插件%d" % (i % 7), "Data/zhCN", "WTF/Account", "Cache"][i % 4]
        name = ("补丁文件%04d.lua" if i % 10 == 0 else "file%04d.dat") % i
        size = 4096 + (i * 7919) % (60 * 1024)
        rel = folder + "/" + name
        write(os.path.join(game, rel), os.urandom(size))
        rels.append(rel)
        small_total += size
    archive = max(1, (check_mib * 1024 * 1024 - small_total) // 4)
    for i in range(4):
        rel = "Data/common-%d.MPQ" % i
        path = os.path.join(game, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            left = archive
            while left > 0:
                f.write(os.urandom(min(left, 8 << 20)))
                left -= 8 << 20
        rels.append(rel)
    entries = publish(www, "check", game, rels, "http://127.0.0.1/check/files/")
    with open(os.path.join(out, "check.md5"), "w", encoding="utf-8") as f:
        for e in entries:
            f.write("%s  %s\n" % (e["hash"], e["path"]))
    publish(www, "check0", game, [], "http://127.0.0.1/check0/files/")
    open(os.path.join(out, "check0.md5"), "w").close()

    # Many small files, fetched directly and through the latency proxy.
    small = os.path.join(www, "small", "files")
    names = ["s%04d.bin" % i for i in range(small_files)]
    for n in names:
        write(os.path.join(small, n), os.urandom(16 * 1024))
    publish(www, "small", small, names, "http://127.0.0.1/small/files/")
    with open(os.path.join(out, "small-names"), "w") as f:
        f.write("".join(n + "\n" for n in names))
    with open(os.path.join(out, "curl-small"), "w") as f:
        for n in names:
            f.write('url = "http://127.0.0.1/small/files/%s"\noutput = "%s/curl-out/%s"\n' % (n, out, n))
    lat = names[:latency_files]
    lat_files = os.path.join(www, "lat", "files")
    os.makedirs(lat_files, exist_ok=True)
    for n in lat:
        os.symlink(os.path.join(small, n), os.path.join(lat_files, n))
    publish(www, "lat", lat_files, lat, "http://127.0.0.1:%s/lat/files/" % proxy_port)

    # The same files where the list allows four at once.
    for name, listed, base in [("small4", names, "http://127.0.0.1/small4/files/"),
                               ("lat4", lat, "http://127.0.0.1:%s/lat4/files/" % proxy_port)]:
        folder = os.path.join(www, name, "files")
        os.makedirs(folder, exist_ok=True)
        for n in listed:
            os.symlink(os.path.join(small, n), os.path.join(folder, n))
        publish(www, name, folder, listed, base, connections=4)
    with open(os.path.join(out, "curl-lat"), "w") as f:
        for n in lat:
            f.write('url = "http://127.0.0.1:%s/lat/files/%s"\noutput = "%s/curl-out/%s"\n'
                    % (proxy_port, n, out, n))

    # One large file.
    big = os.path.join(www, "big", "files")
    os.makedirs(big, exist_ok=True)
    with open(os.path.join(big, "client.MPQ"), "wb") as f:
        for _ in range(big_mib // 8):
            f.write(os.urandom(8 << 20))
    publish(www, "big", big, ["client.MPQ"], "http://127.0.0.1/big/files/")
    return 0


if __name__ == "__main__":
    sys.exit(main())
