/*
 * Helpers of the tests that move schedule data through the real
 * kiromenu.exe: the schedule data of a PC and their snapshots, disks for
 * drive E: (tmpfs of chosen sizes, or exFAT sticks) inserted by
 * redefining the drive, and a running menu whose questions are answered in
 * order.
 */
#ifndef KIRO_MOVE_SUPPORT_H
#define KIRO_MOVE_SUPPORT_H

#include <gtest/gtest.h>
#include "driver.h"
#include "drive_fixture.h"
#include "test_support.h"
#include "resource.h"
#include "archive/zip_write.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

static const char *const DONE_OUT = "Så er filerne kopieret til disk enheden!";
static const char *const DONE_BACK = "Så er filerne kopieret til harddisken!";
static const int BOX_WAIT = 60000;

/* Schedule data of a PC: two tables, a work file, an extra ini file. */
inline void fill_data(const Installation &pc, size_t big, unsigned seed)
{
    write_file(pc.data_dir + "data\\elev.dat", random_bytes(big, seed));
    write_file(pc.data_dir + "data\\skema.dat", "skema " + std::to_string(seed) + "\r\n");
    write_file(pc.data_dir + "ini\\farver.ini", "[farver]\r\nbaggrund=" + std::to_string(seed) + "\r\n");
}

/* Every file of data\ and ini\ by name, but the move lock that a menu
   holds while it acts (no data, and unreadable meanwhile). */
inline std::map<std::string, std::string> snapshot(const Installation &pc)
{
    std::map<std::string, std::string> files;
    for (const char *folder : { "data", "ini" }) {
        std::string pattern = pc.data_dir + folder + "\\*";
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA(pattern.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && lstrcmpiA(found.cFileName, "flyt.lck") != 0)
                files[std::string(folder) + "\\" + found.cFileName] =
                    read_file(pc.data_dir + folder + "\\" + found.cFileName);
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    return files;
}

inline std::string ini_value(const std::string &file, const char *key)
{
    char value[64];
    GetPrivateProfileStringA("global", key, "", value, sizeof value, file.c_str());
    return value;
}

inline std::string locked_key(const Installation &pc)
{
    return ini_value(pc.ini(), "skemalåst");
}

static const std::string TRANSFER_DIR = "E:\\KIRO-Flyt7";
static const std::string TRANSFER_FILE = TRANSFER_DIR + "\\flyt.ini";

/* A disk: a tmpfs of bytes (exact free space), or a real stick file
   system (exFAT), unmounted when the test ends. */
struct Exfat {};
struct Disk {
    std::unique_ptr<ScopedTmpfs> tmpfs;
    std::unique_ptr<ScopedExfat> exfat;
    Disk(const std::string &name, unsigned long bytes, bool read_only = false)
        : tmpfs(new ScopedTmpfs(name, bytes, read_only)) {}
    Disk(Exfat, const std::string &name, unsigned long bytes) : exfat(new ScopedExfat(name, bytes)) {}
    const std::string &dir() const { return tmpfs ? tmpfs->dir : exfat->dir; }
};

inline void insert(const Disk &disk)
{
    ASSERT_FALSE(disk.dir().empty());
    ASSERT_TRUE(define_drive('e', DRIVE_REMOVABLE, disk.dir()));
}

/* Contents of a disk (Unix side), for byte-for-byte comparisons. */
inline std::string disk_listing(const Disk &disk)
{
    std::string listing = make_scratch_dir("listing") + "\\listing.txt";
    run_unix("cd '" + disk.dir() + "' && find . -type f ! -name .listing -exec md5sum {} + | sort > '" +
             unix_path(listing) + "'");
    return read_file(listing);
}

/* The menu of one PC. */
struct Menu {
    Program program;
    HWND window = NULL;
    explicit Menu(const Installation &pc)
    {
        program = start_program(pc.program_dir + "kiromenu.exe", pc.args());
        if (program.process)
            window = wait_main_menu(program.pid);
    }
    ~Menu()
    {
        if (program.process) {
            if (window && IsWindow(window))
                click(window, IDC_CLOSE);
            if (wait_exit(program, 10000) == -1)
                ADD_FAILURE() << "the menu did not end";
        }
    }
    void start_move()
    {
        send_message(GetDlgItem(window, IDC_START), BM_SETCHECK, BST_UNCHECKED, 0);
        send_message(GetDlgItem(window, IDC_MOVE), BM_SETCHECK, BST_CHECKED, 0);
        click(window, IDC_OK);
    }
    /* Waits for the next box; records a failure when none comes or its text
       does not start with text. Answers it with button. */
    std::string expect(const std::string &text, int button, const Disk *swap_to = NULL)
    {
        MessageBoxSeen box;
        if (!wait_message_box(program.pid, box, BOX_WAIT)) {
            ADD_FAILURE() << "no message box; expected: " << text;
            return "";
        }
        EXPECT_EQ(text, box.text.substr(0, text.size())) << "whole text: " << box.text;
        std::string seen = box.text;
        if (swap_to)
            insert(*swap_to);   /* the user changes disks while the question waits */
        answer(box, button);
        return seen;
    }
    /* No box may come while the progress dialog closes: watched for at
       least ms and until the dialog has gone (boxes come only before). */
    void expect_no_box(int ms = 1500)
    {
        DWORD start = GetTickCount();
        for (;;) {
            bool dialog_up = false;
            for (HWND w : top_windows(program.pid)) {
                if (class_name(w) != "#32770" || w == window)
                    continue;
                dialog_up = true;
                if (HWND text = GetDlgItem(w, 0xFFFF)) {
                    ADD_FAILURE() << "unexpected box: " << window_text(text);
                    answer(MessageBoxSeen{ w, window_text(w), window_text(text), NULL, NULL }, IDCANCEL);
                }
            }
            int waited = (int)(GetTickCount() - start);
            if ((!dialog_up && waited >= ms) || waited >= BOX_WAIT)
                return;
            pause_ms(20);
        }
    }
    /* Waits until the progress dialog has gone. */
    bool idle(int ms = 20000)
    {
        DWORD start = GetTickCount();
        do {
            int dialogs = 0;
            for (HWND w : top_windows(program.pid))
                if (class_name(w) == "#32770" && w != window)
                    dialogs++;
            if (dialogs == 0)
                return true;
            pause_ms(50);
        } while ((int)(GetTickCount() - start) < ms);
        std::string up;
        for (HWND w : top_windows(program.pid))
            if (class_name(w) == "#32770" && w != window)
                up += " \"" + window_text(w) + "\"";
        fprintf(stderr, "move_support: still up after %d ms:%s\n", ms, up.c_str());
        return false;
    }
    std::string label(int id) { return control_text(window, id); }
};

/* One box of a move as the user meets it: its text (the start of it), the
   button pressed, and the disk put in while it is up (NULL: none). */
struct Step {
    std::string text;
    int button;
    const Disk *swap_to;
    const char *screenshot;   /* a picture of the box to look at, in the build's screenshots */
    Step(const std::string &t, int b, const Disk *d = NULL, const char *shot = NULL)
        : text(t), button(b), swap_to(d), screenshot(shot) {}
};

/* Runs the move of pc's main menu and answers exactly these boxes, in this
   order; no other box may come. */
inline void run_move(const Installation &pc, const std::vector<Step> &steps)
{
    Menu menu(pc);
    ASSERT_TRUE(menu.window);
    menu.start_move();
    for (const Step &step : steps) {
        MessageBoxSeen box;
        if (step.screenshot && wait_message_box(menu.program.pid, box, BOX_WAIT)) {
            pause_ms(300);
            EXPECT_TRUE(screenshot(screenshot_path(step.screenshot)));
        }
        menu.expect(step.text, step.button, step.swap_to);
    }
    menu.expect_no_box(500);
    ASSERT_TRUE(menu.idle());
}

/* PC A moves its data out onto the disk in the drive. */
inline void move_out_one_disk(const Installation &pc)
{
    run_move(pc, { Step(DONE_OUT, IDOK) });
}

inline std::string shell_quoted(const std::string &text)
{
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class Transfer : public ::testing::Test {
protected:
    /* Runs a watcher of the machine underneath in the background: when the
       file `when` appears, the shell command `then` is run. It looks every
       2 ms for at most 60 s, and is ended with the test. */
    void on_file_appearing(const std::string &when, const std::string &then)
    {
        static int count = 0;
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        std::string pid_file = unix_path(std::string(temp) + "kiro-watcher-" + std::to_string(GetCurrentProcessId()) +
                                         "-" + std::to_string(++count));
        const char *watch = "import os, subprocess, sys, time\n"
                            "end = time.monotonic() + 60\n"
                            "while not os.path.exists(sys.argv[1]):\n"
                            "    if time.monotonic() > end:\n"
                            "        sys.exit(1)\n"
                            "    time.sleep(0.002)\n"
                            "sys.exit(subprocess.call([\"/bin/sh\", \"-c\", sys.argv[2]]))\n";
        ASSERT_EQ(0, run_unix("/usr/bin/python3 -c " + shell_quoted(watch) + " " + shell_quoted(when) + " " +
                              shell_quoted(then) + " >/dev/null 2>&1 </dev/null & echo $! >" +
                              shell_quoted(pid_file)));
        watchers.push_back(pid_file);
    }
    void TearDown() override
    {
        for (const std::string &pid_file : watchers)
            end_unix_process(pid_file);
        watchers.clear();
        remove_drive('e');
    }
    std::vector<std::string> watchers;   /* files holding their process ids */
};


inline std::string unix_file(const Disk &disk, const std::string &name)
{
    return disk.dir() + "/KIRO-Flyt7/" + name;
}

/* flyt.ini of a disk, as a Windows path that does not depend on the drive. */
inline std::string flyt_ini(const Disk &disk)
{
    return windows_path(unix_file(disk, "flyt.ini"));
}

/* B's state after a refused or aborted take-back: data as before, still
   locked, no archive left that the next run would not remove anyway. */
/* The same files with the same contents; a difference is named, not
   printed (tables are megabytes). ini\kiro.ini is left out when asked,
   its lock key being the one line that differs after a move. */
inline void expect_same_files(const std::map<std::string, std::string> &expected,
                              const std::map<std::string, std::string> &actual, bool but_kiro_ini = false)
{
    for (const auto &f : expected) {
        if (but_kiro_ini && f.first == "ini\\kiro.ini")
            continue;
        auto a = actual.find(f.first);
        EXPECT_TRUE(a != actual.end() && a->second == f.second) << f.first << " differs";
    }
    for (const auto &f : actual)
        EXPECT_TRUE(expected.count(f.first)) << f.first << " is new";
}

inline void expect_untouched(const Installation &pc, const std::map<std::string, std::string> &before,
                      const char *lock)
{
    expect_same_files(before, snapshot(pc));
    EXPECT_EQ(lock, locked_key(pc));
}


/* The move archive the menu packs from pc's files: the same entries, named
   the same way, in the same order. */
inline void pack_like_the_menu(const Installation &pc, const std::string &archive)
{
    DeleteFileA(archive.c_str());
    for (const char *folder : { "data", "ini" }) {
        std::string pattern = pc.data_dir + folder + (std::string(folder) == "data" ? "\\*.dat" : "\\*.*");
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA(pattern.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            std::string file = pc.data_dir + folder + "\\" + found.cFileName;
            zip_add_file(archive.c_str(), file.c_str(), NULL);
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
}

/* Writes the set pc's menu would write, straight onto disks: one volume
   of equal length each, every flyt.ini with its own mark ("nej" live,
   "ja" taken back). */
inline void write_set(const Installation &pc, const std::vector<const Disk *> &disks,
                      const std::vector<const char *> &marks)
{
    std::string archive = pc.root + "\\set.zip";
    pack_like_the_menu(pc, archive);
    std::string whole = read_file(archive);
    DeleteFileA(archive.c_str());
    ASSERT_FALSE(whole.empty());
    size_t n = disks.size(), piece = (whole.size() + n - 1) / n;
    for (size_t k = 0; k < n; k++) {
        ASSERT_TRUE(make_dirs(windows_path(disks[k]->dir() + "/KIRO-Flyt7")));
        char volume[16];
        snprintf(volume, sizeof volume, "Data.z%02d", (int)k + 1);
        ASSERT_TRUE(write_file(windows_path(unix_file(*disks[k], volume)), whole.substr(k * piece, piece)));
        ASSERT_TRUE(write_file(flyt_ini(*disks[k]),
                               "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=" + std::to_string(k + 1) +
                                   "\r\nantaldiske=" + std::to_string(n) + "\r\nskemal\xE5st=" + marks[k] +
                                   "\r\n"));
    }
}

/* Every file of the PC is either its old version or its new one, whole. */
inline void expect_old_or_new(const Installation &pc, const std::map<std::string, std::string> &old_files,
                              const std::map<std::string, std::string> &new_files)
{
    for (const auto &f : snapshot(pc)) {
        auto o = old_files.find(f.first), n = new_files.find(f.first);
        bool is_old = o != old_files.end() && o->second == f.second;
        bool is_new = n != new_files.end() && n->second == f.second;
        EXPECT_TRUE(is_old || is_new) << f.first << " is cut or mixed (" << f.second.size() << " bytes)";
    }
}

#endif
