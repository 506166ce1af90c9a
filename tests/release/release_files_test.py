#!/usr/bin/env python3
"""The release's file work (scripts/release_files.py): an archive that depends on the files'
names and contents only, comparisons that name what differs, and the test that signing added a
signature and changed nothing else."""
import os
import pathlib
import struct
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import release_files  # noqa: E402

FILES = {"bin/tool.exe": b"MZ tool", "LICENSE": b"MIT", "docs/a b.md": b"# notes\n"}
EPOCH_2026 = 1767272742  # 2026-01-01 13:05:42 UTC


def make_folder(root, order, mode, mtime):
    for name in order:
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(FILES[name])
        os.chmod(path, mode)
        os.utime(path, (mtime, mtime))
    return root


class Pack(unittest.TestCase):
    def test_the_archive_depends_on_names_and_contents_only(self):
        with tempfile.TemporaryDirectory() as scratch:
            scratch = pathlib.Path(scratch)
            first = make_folder(scratch / "one", sorted(FILES), 0o644, 1_000_000_000)
            second = make_folder(scratch / "two" / "deeper", sorted(FILES, reverse=True), 0o755,
                                 1_700_000_000)
            release_files.pack(first, "release-1.0.0", scratch / "one.zip", EPOCH_2026)
            release_files.pack(second, "release-1.0.0", scratch / "two.zip", EPOCH_2026)
            self.assertEqual((scratch / "one.zip").read_bytes(), (scratch / "two.zip").read_bytes())
            with zipfile.ZipFile(scratch / "one.zip") as archive:
                members = archive.infolist()
                self.assertEqual([member.filename for member in members],
                                 ["release-1.0.0/LICENSE", "release-1.0.0/bin/tool.exe",
                                  "release-1.0.0/docs/a b.md"])
                self.assertEqual({member.date_time for member in members},
                                 {(2026, 1, 1, 13, 5, 42)})
                self.assertEqual(archive.read("release-1.0.0/docs/a b.md"), FILES["docs/a b.md"])

    def test_a_commit_before_1980_gives_the_earliest_time_a_zip_can_state(self):
        self.assertEqual(release_files.member_time(0), (1980, 1, 1, 0, 0, 0))


class Differences(unittest.TestCase):
    def test_each_differing_or_missing_file_is_named_with_where(self):
        cases = (
            ("same", {"a": b"123"}, {"a": b"123"}, []),
            ("one byte", {"a": b"12345", "b": b"x"}, {"a": b"12045", "b": b"x"},
             ["a: differs from byte 2 (sizes 5 and 5)"]),
            ("longer", {"a": b"123"}, {"a": b"1234"}, ["a: differs from byte 3 (sizes 3 and 4)"]),
            ("missing", {"a": b"1", "sub/b": b"2"}, {"a": b"1"}, ["sub/b: only in {first}"]),
        )
        for name, first_files, second_files, expected in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as scratch:
                first, second = pathlib.Path(scratch, "first"), pathlib.Path(scratch, "second")
                for folder, contents in ((first, first_files), (second, second_files)):
                    for file_name, data in contents.items():
                        (folder / file_name).parent.mkdir(parents=True, exist_ok=True)
                        (folder / file_name).write_bytes(data)
                self.assertEqual(release_files.differences(first, second),
                                 [line.format(first=first) for line in expected])


def portable_executable(size=0x400):
    """A PE32+ image's headers as far as signing touches them: the PE header at 0x80, the optional
    header's check sum and the certificate table's directory entry, and a body."""
    image = bytearray(size)
    image[:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", image, 0x98, 0x20B)
    image[0x200:] = bytes((offset * 7) % 251 + 1 for offset in range(size - 0x200))
    return bytes(image)


def signed(image, signature=b"\x30\x82signature", pad=5, check_sum=0x1234):
    """As a signer does it: pads the file, appends the certificate table, points the directory
    entry at it and sets the check sum."""
    result = bytearray(image) + bytes(pad)
    table = len(result)
    result += struct.pack("<IHH", 8 + len(signature), 0x200, 2) + signature
    struct.pack_into("<II", result, 0x98 + 112 + 32, table, len(result) - table)
    struct.pack_into("<I", result, 0x98 + 64, check_sum)
    return bytes(result)


class SameButSignature(unittest.TestCase):
    def test_only_an_added_signature_passes(self):
        image = portable_executable()
        changed_body = bytearray(signed(image))
        changed_body[0x250] ^= 1
        changed_header = bytearray(signed(image))
        changed_header[0x88] ^= 1  # the time stamp
        cases = (
            ("signed", image, signed(image), True),
            ("signed without padding", image, signed(image, pad=0), True),
            ("not signed at all", image, image, False),
            ("a byte of the body changed", image, bytes(changed_body), False),
            ("a header field changed", image, bytes(changed_header), False),
            ("signed twice over", signed(image), signed(image), False),
        )
        for name, unsigned, signed_image, expected in cases:
            with self.subTest(name):
                self.assertEqual(release_files.same_but_signature(unsigned, signed_image), expected)

    def test_a_file_that_is_no_pe_image_is_refused(self):
        with self.assertRaises(ValueError):
            release_files.same_but_signature(b"MZ" + bytes(0x200), b"MZ" + bytes(0x200))


if __name__ == "__main__":
    unittest.main()
