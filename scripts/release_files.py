#!/usr/bin/env python3
"""The release's file work, for scripts/release.sh: packing a folder into a zip archive that
depends on nothing but the files' contents and names, comparing two releases file by file, and
telling whether a signed PE file is its unsigned self plus the signature and nothing else.

Usage: release_files.py pack FOLDER TOP_NAME ARCHIVE SOURCE_DATE_EPOCH
       release_files.py compare FIRST SECOND        (folders or single files)
       release_files.py same-but-signature UNSIGNED SIGNED"""
import pathlib
import struct
import sys
import time
import zipfile

# The earliest time a zip archive can state (MS-DOS dates start in 1980).
ZIP_EPOCH = 315532800


def member_time(source_date_epoch):
    """Every member's time: the last commit's, in UTC, as the zip format stores it."""
    return time.gmtime(max(int(source_date_epoch), ZIP_EPOCH))[:6]


def files_under(folder):
    """Every file under `folder`, relative and with forward slashes, in byte order of the name."""
    return sorted((path.relative_to(folder).as_posix() for path in folder.rglob("*")
                   if path.is_file()), key=lambda name: name.encode("utf-8"))


def pack(folder, top_name, archive, source_date_epoch):
    """Members in a fixed order, with one time, fixed permissions and no owner or extra field."""
    date_time = member_time(source_date_epoch)
    with zipfile.ZipFile(archive, "w") as zip_file:
        for name in files_under(folder):
            member = zipfile.ZipInfo(f"{top_name}/{name}", date_time)
            member.create_system = 3  # Unix, so that the permissions below are read as such
            member.external_attr = 0o100644 << 16
            member.compress_type = zipfile.ZIP_DEFLATED
            zip_file.writestr(member, (folder / name).read_bytes(), compresslevel=9)


def first_difference(first, second):
    """The offset of the first byte in which the two differ, or None when they are the same."""
    if first == second:
        return None
    for offset, (a, b) in enumerate(zip(first, second)):
        if a != b:
            return offset
    return min(len(first), len(second))


def differences(first, second):
    """What differs between two folders (or two files): each file, and from which byte."""
    if first.is_file() or second.is_file():
        pairs = [(first.name, first, second)]
    else:
        names_first, names_second = set(files_under(first)), set(files_under(second))
        only = [f"{name}: only in {first}" for name in sorted(names_first - names_second)]
        only += [f"{name}: only in {second}" for name in sorted(names_second - names_first)]
        pairs = [(name, first / name, second / name) for name in sorted(names_first & names_second)]
        if only:
            return only
    found = []
    for name, a, b in pairs:
        data_a, data_b = a.read_bytes(), b.read_bytes()
        offset = first_difference(data_a, data_b)
        if offset is not None:
            found.append(f"{name}: differs from byte {offset} "
                         f"(sizes {len(data_a)} and {len(data_b)})")
    return found


def certificate_entry(pe):
    """Where the optional header's check sum and the certificate table's directory entry lie."""
    header = struct.unpack_from("<I", pe, 0x3C)[0]
    if pe[header:header + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    optional = header + 24
    plus = struct.unpack_from("<H", pe, optional)[0] == 0x20B
    # The certificate table is the fifth data directory, after 96 (PE32+: 112) bytes of fields.
    return optional + 64, optional + (112 if plus else 96) + 4 * 8


def signature_size(pe):
    return struct.unpack_from("<II", pe, certificate_entry(pe)[1])[1]


def without_signature(pe):
    """The PE file as Authenticode hashes it: without its check sum, the certificate table's
    entry, the table itself, and the zeros that pad the file up to the table."""
    check_sum, entry = certificate_entry(pe)
    table_offset, table_size = struct.unpack_from("<II", pe, entry)
    body = bytearray(pe[:table_offset] if table_size else pe)
    body[check_sum:check_sum + 4] = bytes(4)
    body[entry:entry + 8] = bytes(8)
    return bytes(body).rstrip(b"\0")


def same_but_signature(unsigned_pe, signed_pe):
    """The signed file is the unsigned one with a signature added, and with nothing else changed."""
    return (signature_size(unsigned_pe) == 0 and signature_size(signed_pe) > 0 and
            without_signature(unsigned_pe) == without_signature(signed_pe))


def main(arguments):
    command = arguments[0] if arguments else ""
    if command == "pack" and len(arguments) == 5:
        pack(pathlib.Path(arguments[1]), arguments[2], arguments[3], arguments[4])
        return 0
    if command == "compare" and len(arguments) == 3:
        found = differences(pathlib.Path(arguments[1]), pathlib.Path(arguments[2]))
        for line in found:
            print(line)
        return 1 if found else 0
    if command == "same-but-signature" and len(arguments) == 3:
        unsigned, signed = pathlib.Path(arguments[1]), pathlib.Path(arguments[2])
        if same_but_signature(unsigned.read_bytes(), signed.read_bytes()):
            return 0
        print(f"{signed.name}: not signed, or signing changed more than the signature")
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
