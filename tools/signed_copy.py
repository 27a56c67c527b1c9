#!/usr/bin/env python3
"""Checks that SIGNED is UNSIGNED with an Authenticode signature added and
nothing else changed. Signing a PE image touches exactly three things, the
ones the signature's own digest leaves out: the header's checksum, the
header's entry for the certificate table, and the table itself, appended at
the end after at most 7 bytes of zeros that align it to 8. Every other byte
must be the same. Prints what differs and exits 1 when anything else does.

    tools/signed_copy.py UNSIGNED SIGNED
"""
import struct
import sys


def header_fields(image):
    """File offsets of the checksum and of the certificate table entry."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    return optional + 64, directories + 4 * 8


def check(unsigned, signed):
    """The differences that a signature does not explain; [] when none."""
    checksum, table_entry = header_fields(unsigned)
    problems = []
    if struct.unpack_from("<II", unsigned, table_entry) != (0, 0):
        problems.append("the unsigned image already has a certificate table")
    start, size = struct.unpack_from("<II", signed, table_entry)
    end = len(unsigned)
    if size == 0 or start + size != len(signed):
        problems.append("the signature is not one table at the end of the signed image")
    elif not (end <= start < end + 8 and start % 8 == 0 and signed[end:start] == bytes(start - end)):
        problems.append("the certificate table does not start right after the image (zeros up to 8-byte alignment)")
    head = bytearray(signed[:end])
    head[checksum:checksum + 4] = unsigned[checksum:checksum + 4]
    head[table_entry:table_entry + 8] = unsigned[table_entry:table_entry + 8]
    if len(head) < end:
        problems.append("the signed image is shorter than the unsigned one")
    elif head != unsigned:
        differing = [i for i in range(end) if head[i] != unsigned[i]]
        if differing:
            problems.append("%d bytes of the image differ, the first at offset %d" % (len(differing), differing[0]))
    return problems


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        unsigned = f.read()
    with open(argv[2], "rb") as f:
        signed = f.read()
    problems = check(unsigned, signed)
    for problem in problems:
        print("%s: %s" % (argv[2], problem), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
