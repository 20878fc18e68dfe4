#!/usr/bin/env python3
"""Takes folders' own entries out of a Debian package's data archive.

  deb-drop-directories.py <package.deb> <entry>...

Each <entry> is a folder as the data archive names it ("./opt/"). Only the
folder's own entry goes; what lies below it stays. The package is rewritten
in place with the same members in the same order; every other entry of the
data archive keeps its header (owner, mode, time) and contents. Exits 1 with
a message naming the package when it is not laid out as expected.
"""

import io
import lzma
import os
import sys
import tarfile

AR_MAGIC = b"!<arch>\n"
AR_HEADER = 60


class PackageError(Exception):
    pass


def read_ar(data):
    """The members of an ar archive as (name, header, contents), in order."""
    if not data.startswith(AR_MAGIC):
        raise PackageError("not an ar archive")
    members, offset = [], len(AR_MAGIC)
    while offset < len(data):
        header = data[offset:offset + AR_HEADER]
        if len(header) != AR_HEADER or header[58:60] != b"`\n":
            raise PackageError(f"bad ar member header at byte {offset}")
        name = header[0:16].decode("ascii").rstrip().rstrip("/")
        size = int(header[48:58].decode("ascii").strip())
        start = offset + AR_HEADER
        members.append((name, header, data[start:start + size]))
        offset = start + size + (size % 2)
    return members


def write_ar(members):
    out = bytearray(AR_MAGIC)
    for _, header, contents in members:
        size = f"{len(contents):<10}".encode("ascii")
        out += header[:48] + size + header[58:60] + contents
        if len(contents) % 2:
            out += b"\n"
    return bytes(out)


def drop_entries(data_tar, drop):
    """The tar archive without the entries named in drop, and the names dropped."""
    dropped = []
    out = io.BytesIO()
    with tarfile.open(fileobj=io.BytesIO(data_tar), mode="r:") as source:
        # GNU format, as dpkg-deb writes it: dpkg reads no POSIX extended headers.
        with tarfile.open(fileobj=out, mode="w:", format=tarfile.GNU_FORMAT,
                          encoding="utf-8", errors="surrogateescape") as target:
            for member in source:
                if member.isdir() and (member.name in drop or member.name + "/" in drop):
                    dropped.append(member.name)
                    continue
                contents = source.extractfile(member) if member.isreg() else None
                target.addfile(member, contents)
    return out.getvalue(), dropped


def rewrite(path, drop):
    with open(path, "rb") as f:
        members = read_ar(f.read())
    names = [name for name, _, _ in members]
    if len(names) != 3 or names[0] != "debian-binary" or names[2] != "data.tar.xz":
        raise PackageError(f"unexpected members {names}")
    name, header, compressed = members[2]
    data_tar, dropped = drop_entries(lzma.decompress(compressed), drop)
    members[2] = (name, header, lzma.compress(data_tar, preset=6))
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(write_ar(members))
    os.replace(temporary, path)
    return dropped


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path, drop = argv[1], set(argv[2:])
    try:
        dropped = rewrite(path, drop)
    except (OSError, PackageError, tarfile.TarError, lzma.LZMAError) as error:
        print(f"deb-drop-directories.py: {path}: {error}", file=sys.stderr)
        return 1
    for name in dropped:
        print(f"deb-drop-directories.py: {os.path.basename(path)}: dropped '{name}'")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
