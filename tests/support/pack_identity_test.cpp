/*
 * The three packing roads of the program (the move out's packing stage,
 * the support snapshot, pack_matching_files) on fixed files with fixed
 * contents and last-write times, on one thread and on three: each must
 * give the archive it has always given, byte for byte (its SHA-256), with
 * the bars and the status line going exactly as they always went.
 */
#include "archive/threads.h"
#include "support/settings.h"
#include "support/packing.h"
#include "support/text.h"
#include "transfer/move_to_device.h"
#include "advanced/send_support.h"
#include "test_support.h"
#include "dialog_runner.h"

#include <gtest/gtest.h>
#include <wincrypt.h>
#include <string>

namespace {

/* Fixed, not under the test's own scratch folder: the move names its
   entries by full paths, so the folder is part of the archive. */
const char *const ROOT = "C:\\kiro-pack-identity";

std::string sha256_of(const std::string &path)
{
    std::string data = read_file(path), hex;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[32];
    DWORD length = sizeof digest;
    if (CryptAcquireContextA(&provider, NULL, NULL, 24 /* PROV_RSA_AES */, CRYPT_VERIFYCONTEXT)
        && CryptCreateHash(provider, 0x800c /* CALG_SHA_256 */, 0, 0, &hash)
        && CryptHashData(hash, (const BYTE *)data.data(), (DWORD)data.size(), 0)
        && CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
        for (DWORD k = 0; k < length; k++) {
            char two[3];
            snprintf(two, sizeof two, "%02x", digest[k]);
            hex += two;
        }
    }
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    return hex;
}

std::string text_bytes(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        s[i] = (char)((seed >> 16) % 7 + 'a');
    }
    return s;
}

/* Writes file with content and a last-write time fixed in local time, so
   that its DOS time is the same in every time zone. */
void put(const std::string &file, const std::string &content, int minute)
{
    ASSERT_TRUE(write_file(file, content)) << file;
    SYSTEMTIME st = {};
    st.wYear = 2014;
    st.wMonth = 1;
    st.wDay = 15;
    st.wHour = 9;
    st.wMinute = (WORD)minute;
    st.wSecond = 24;
    FILETIME local, utc;
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    HANDLE h = CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    SetFileTime(h, NULL, NULL, &utc);
    CloseHandle(h);
}

/* An installation: P = ROOT\Program\, D = ROOT\Data\. */
void make_inputs()
{
    std::string p = std::string(ROOT) + "\\Program\\", d = std::string(ROOT) + "\\Data\\";
    remove_tree(ROOT);
    for (const char *folder : { "data\\sub.dat", "ini", "log", "datakopi" })
        ASSERT_TRUE(make_dirs(d + folder));
    ASSERT_TRUE(make_dirs(p + "sub"));
    put(d + "data\\akti.dat", text_bytes(120000, 1), 1);
    put(d + "data\\elev.dat", random_bytes(40000, 2), 2);
    put(d + "data\\tom.dat", "", 3);
    put(d + "data\\l\xe6rer.dat", text_bytes(5000, 3), 4);
    put(d + "data\\noter.txt", "ikke med i flytningen\r\n", 5);
    put(d + "ini\\kiro.ini", "[global]\r\ninsnr=7\r\nversion=10327\r\nflytdrev=e:\r\n", 6);
    put(d + "ini\\kiro.lck", "station 2\r\n", 7);
    put(d + "ini\\skema.ini", text_bytes(900, 4), 8);
    put(d + "log\\start.log", text_bytes(3000, 5), 9);
    put(d + "log\\fejl.txt", "fejl\r\n", 10);
    put(d + "datakopi\\akti.dat", text_bytes(70000, 6), 11);
    put(p + "kiromenu.exe", random_bytes(30000, 7), 12);
    put(p + "readme.txt", text_bytes(2000, 8), 13);
    put(p + "opdat.lck", "", 14);
}

struct Packed {
    std::string sha;
    std::string trace;
};

Packed move_road()
{
    std::string d = std::string(ROOT) + "\\Data\\";
    copy_text(g_settings.data_dir, sizeof g_settings.data_dir, d.c_str());
    bool packed = false;
    BarRecord bars = run_in_dialog([&](HWND dialog) { packed = pack_move_archive(dialog); });
    EXPECT_TRUE(packed);
    Packed out = { sha256_of(d + "Data.zip"), bars.trace };
    DeleteFileA((d + "Data.zip").c_str());
    return out;
}

Packed snapshot_road()
{
    std::string p = std::string(ROOT) + "\\Program\\", d = std::string(ROOT) + "\\Data\\";
    std::string working = p + "skolesql0117.tvk";
    static const char *const folders[5] = { "data", "ini", "log", "datakopi", "inikopi" };
    bool packed = false;
    DWORD error = 0;
    BarRecord bars = run_in_dialog([&](HWND dialog) {
        packed = pack_snapshot(dialog, p.c_str(), d.c_str(), folders, working.c_str(), &error);
    });
    EXPECT_TRUE(packed);
    Packed out = { sha256_of(working), bars.trace };
    DeleteFileA(working.c_str());
    return out;
}

Packed matching_road()
{
    std::string d = std::string(ROOT) + "\\Data\\", archive = std::string(ROOT) + "\\matching.zip";
    int codes[2] = { -1, -1 };
    BarRecord bars = run_in_dialog([&](HWND dialog) {
        codes[0] = pack_matching_files(dialog, d.c_str(), "data\\*.dat", archive.c_str());
        codes[1] = pack_matching_files(dialog, d.c_str(), "ini\\*.*", archive.c_str());
    });
    EXPECT_EQ(0, codes[0]);
    EXPECT_EQ(0, codes[1]);
    Packed out = { sha256_of(archive), bars.trace };
    DeleteFileA(archive.c_str());
    return out;
}

}  // namespace

/* Recorded from the packing code as it was before its three loops became
   one road. */
const Packed MOVE = {
    "65ca79f126be2c7d2ed706ace6c56835188609b8f45b5645593ee7fa3564eccd",
    "off[Pakker filen: 'akti.dat']f[Pakker filen: 'elev.dat']f[Pakker filen: 'l\xe6rer.dat']ff"
    "[Pakker filen: 'tom.dat']offff[Pakker filen: 'kiro.ini']ff[Pakker filen: 'skema.ini']OF"
};
const Packed SNAPSHOT = {
    "5a9954eb2787451006190682c51fea5c828b15c02598e597a252a95e4fc03175",
    "[Pakker filen: kiromenu.exe]o[Pakker filen: readme.txt]o[Pakker filen: akti.dat]o"
    "[Pakker filen: elev.dat]o[Pakker filen: l\xe6rer.dat]o[Pakker filen: noter.txt]o[Pakker filen: tom.dat]o"
    "[Pakker filen: kiro.ini]o[Pakker filen: kiro.lck]o[Pakker filen: skema.ini]o[Pakker filen: fejl.txt]o"
    "[Pakker filen: start.log]o[Pakker filen: akti.dat]ooO"
};
const Packed MATCHING = {
    "d9437edef18af81daea091f84f9857fa71e052d89c99ca549275f1ca661c2e41",
    "[Pakker filen: akti.dat]o[Pakker filen: elev.dat]o[Pakker filen: l\xe6rer.dat]o[Pakker filen: tom.dat]o"
    "[Pakker filen: kiro.ini]o[Pakker filen: kiro.lck]o[Pakker filen: skema.ini]o"
};

TEST(PackingRoads, EveryRoadGivesTheArchiveItAlwaysGave)
{
    make_inputs();
    MenuSettings saved = g_settings;
    for (unsigned threads : { 1u, 3u }) {
        set_zip_threads(threads);
        const struct {
            const char *road;
            Packed packed, expected;
        } roads[] = { { "move", move_road(), MOVE },
                      { "snapshot", snapshot_road(), SNAPSHOT },
                      { "matching", matching_road(), MATCHING } };
        for (const auto &r : roads) {
            EXPECT_EQ(r.expected.sha, r.packed.sha) << r.road << " on " << threads << " threads";
            EXPECT_EQ(r.expected.trace, r.packed.trace) << r.road << " on " << threads << " threads";
        }
    }
    set_zip_threads(0);
    g_settings = saved;
    remove_tree(ROOT);
}
