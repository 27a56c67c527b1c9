/*
 * Archives past 4 GB: an entry added behind 4.5 GB of earlier data (a
 * sparse gap, so the test stays fast) gets its offset in a zip64 field of
 * the central directory and the directory its zip64 end record, as
 * Python's zipfile reads them; and this program unpacks it again.
 */
#include <gtest/gtest.h>
#include "driver.h"
#include "test_support.h"
#include "archive/extract.h"
#include "archive/zip_write.h"

#include <string>

namespace {

/* A valid archive of one stored entry "a" whose central directory starts
   4.5 GB into the file (zip64 end records), the gap between a hole. */
const char *const MAKE_ARCHIVE = R"(import struct, sys, zlib
gap = 0x120000000
crc = zlib.crc32(b"A")
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 0, 0, 0, 0x21, crc, 1, 1, 1, 0) + b"aA")
    f.seek(gap)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, 0, 0, 0, 0x21, crc, 1, 1, 1, 0, 0, 0, 0, 0, 0) + b"a"
    f.write(central)
    record = gap + len(central)
    f.write(struct.pack("<IQHHIIQQQQ", 0x06064b50, 44, 45, 45, 0, 0, 1, 1, len(central), gap))
    f.write(struct.pack("<IIQI", 0x07064b50, 0, record, 1))
    f.write(struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 1, 1, len(central), 0xFFFFFFFF, 0))
)";

/* Both entries read back by another reader, "b" behind 4 GB. */
const char *const CHECK_ARCHIVE = R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
b = z.getinfo("b")
assert z.read("a") == b"A" and z.read("b") == open(sys.argv[2], "rb").read(), "contents"
assert b.header_offset > 0xFFFFFFFF, b.header_offset
)";

}  // namespace

TEST(Zip64, AnEntryPastFourGigabytesIsFoundByItsZip64OffsetAndUnpacks)
{
    std::string dir = make_scratch_dir("zip64_offset");
    std::string archive = dir + "\\past4g.zip", file = dir + "\\b.dat";
    ASSERT_TRUE(write_file(dir + "\\make.py", MAKE_ARCHIVE) && write_file(dir + "\\check.py", CHECK_ARCHIVE));
    ASSERT_TRUE(write_file(file, random_bytes(70000, 64)));
    ASSERT_EQ(0, run_unix("/usr/bin/python3 '" + unix_path(dir + "\\make.py") + "' '" + unix_path(archive) + "'"));

    ASSERT_EQ(0, zip_add_file(archive.c_str(), file.c_str(), "b"));
    EXPECT_EQ(0, run_unix("/usr/bin/python3 '" + unix_path(dir + "\\check.py") + "' '" + unix_path(archive) + "' '" +
                          unix_path(file) + "'"));
    std::string out = dir + "\\ud";
    ASSERT_TRUE(make_dirs(out));
    EXPECT_EQ(0, unzip_archive(archive.c_str(), out.c_str()));
    EXPECT_EQ(read_file(file), read_file(out + "\\b"));
    EXPECT_EQ("A", read_file(out + "\\a"));
    remove_tree(dir);
}
