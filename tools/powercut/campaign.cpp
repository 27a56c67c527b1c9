/*
 * The power-cut campaign (see campaign.h).
 *
 * Each action has a folder of its own below the build folder
 * (powercut/run-<process>/<action>): the start of the data drive and of
 * each stick as backing folders ("template"), the backing folders of the
 * run in hand, their mount points and the control file the file systems
 * share. Every crash state starts from a fresh copy of the templates. The
 * menu is driven through its windows; its questions are answered as a user
 * who wants the action done answers them (Yes, OK, the disk asked for), so
 * the campaign holds whatever new questions the moves learn.
 */
#include "campaign.h"
#include "support/profile_file.h"
#include "driver.h"
#include "drive_fixture.h"
#include "test_support.h"
#include "resource.h"

#include <windows.h>
#include <unzip.h>
#include <zip.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <map>
#include <set>

namespace {

const char DATA_DRIVE = 'p';
const char STICK_DRIVE = 'e';
const char *const DATA_DIR = "P:\\Data";
const int ROUND_LIMIT_MS = 120000;
const int MAIN_MENU_LIMIT_MS = 40000;
const int MAX_BOXES = 16;
const unsigned long DATA_DRIVE_SIZE = 64UL * 1024 * 1024;
const char *const DONE_PREFIX = "Så er filerne kopieret";

typedef std::map<std::string, std::string> Files;   /* "data\\elev.dat" -> content */

enum Action { ACTION_MOVE, ACTION_LOCK, ACTION_DRIVE };
enum SetEnd { SET_NONE, SET_LIVE, SET_STALE };

/* One action: its start, what may survive a cut, and its end. */
struct Plan {
    CutScenario scenario;
    Action action;
    int sticks = 0;
    unsigned long stick_size = 0;
    Files start_files, end_files;            /* data\ and ini\ but kiro.ini */
    Files set_files;                         /* what the set must hold, kiro.ini too */
    std::string ini_start, ini_end;          /* kiro.ini, byte for byte */
    std::vector<std::string> ini_versions;   /* every version kiro.ini may have */
    bool end_locked = false;
    SetEnd end_set = SET_NONE;
};

/* The folders of one action (Unix paths). */
struct Place {
    std::string root, bin, control, log;
    bool folders_at_once = false;
    bool verbose = false;   /* every question of the menu is printed */
    std::vector<std::string> names;   /* "data", "stick1", "stick2" */
    std::string template_dir(const std::string &n) const { return root + "/template/" + n; }
    std::string backing(const std::string &n) const { return root + "/backing/" + n; }
    std::string mount(const std::string &n) const { return root + "/mnt/" + n; }
};

struct LogLine {
    long long number;
    std::string tag, op, path;
};

std::string lower(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

/* ------------------------------------------------------------------ */
/* The file systems                                                    */

std::string stick_name(int k)
{
    return "stick" + std::to_string(k);
}

bool reset_backing(const Place &p)
{
    return run_unix("rm -rf " + shell_quote(p.root + "/backing") + " && mkdir -p " + shell_quote(p.root + "/backing") +
                    " && cp -a " + shell_quote(p.root + "/template") + "/. " + shell_quote(p.root + "/backing"),
                    60000) == 0;
}

bool mount_all(const Place &p, const Plan &s, long long cut_after, bool log)
{
    std::string script =
        "rm -f " + shell_quote(p.control) + (log ? " " + shell_quote(p.log) : std::string()) + " && ";
    for (const std::string &n : p.names) {
        unsigned long size = n == "data" ? DATA_DRIVE_SIZE : s.stick_size;
        script += "mkdir -p " + shell_quote(p.mount(n)) + " && " + shell_quote(p.bin) + " " +
                  shell_quote(p.backing(n)) + " " + shell_quote(p.mount(n)) + " --control=" + shell_quote(p.control) +
                  " --tag=" + n + " --cut-after=" + std::to_string(cut_after) +
                  " --size=" + std::to_string(size) + (p.folders_at_once ? " --folders-at-once" : "") +
                  (log ? " --log=" + shell_quote(p.log) : std::string()) + " && ";
    }
    return run_unix(script + "true", 60000) == 0;
}

/* Unmounts every file system of the action, the power being out: each is
   asked once first (a stat of its root, which fails), so that it has
   undone what was pending. A mount still busy (the ended menu's files not
   yet closed by the wine server) is tried again, and detached as a last
   resort. False when one is still mounted. */
bool unmount_all(const Place &p)
{
    /* Whether a file system is mounted there is read from the mount table:
       a file system without power answers every question with an error. */
    std::string script = "mounted() { awk -v m=\"$1\" '$2 == m { f = 1 } END { exit !f }' /proc/mounts; }; ";
    for (const std::string &n : p.names)
        script += "! mounted " + shell_quote(p.mount(n)) + " || stat " + shell_quote(p.mount(n)) +
                  " >/dev/null 2>&1; ";
    for (const std::string &n : p.names) {
        std::string m = shell_quote(p.mount(n));
        script += "i=0; while mounted " + m + " && [ $i -lt 100 ]; do fusermount3 -u " + m +
                  " 2>/dev/null || sleep 0.1; i=$((i+1)); done; mounted " + m + " && umount -l " + m + "; ";
    }
    script += "true";
    for (const std::string &n : p.names)
        script += " && ! mounted " + shell_quote(p.mount(n));
    return run_unix(script, 60000) == 0;
}

/* The shared count and switch of the file systems, and how many pending
   changes a cut could not undo. */
struct Control {
    long long operations = 0;
    bool cut = false;
    int undo_failures = 0;
};

bool read_control(const Place &p, Control *control)
{
    std::string bytes = read_file(windows_path(p.control));
    if (bytes.size() < 24)
        return false;
    int flag;
    memcpy(&control->operations, bytes.data() + 8, sizeof control->operations);
    memcpy(&flag, bytes.data() + 16, sizeof flag);
    memcpy(&control->undo_failures, bytes.data() + 20, sizeof control->undo_failures);
    control->cut = flag != 0;
    return true;
}

bool power_out(const Place &p)
{
    Control control;
    return read_control(p, &control) && control.cut;
}

/* Cuts the power now (after whatever ran last). */
void cut_power(const Place &p)
{
    HANDLE f = CreateFileA(windows_path(p.control).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return;
    int one = 1;
    DWORD written = 0;
    SetFilePointer(f, 16, NULL, FILE_BEGIN);
    WriteFile(f, &one, sizeof one, &written, NULL);
    CloseHandle(f);
}

std::vector<LogLine> read_log(const Place &p)
{
    std::vector<LogLine> lines;
    std::string text = read_file(windows_path(p.log));
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        char tag[64], op[64], path[1024];
        long long n;
        if (sscanf(text.substr(at, end - at).c_str(), "%lld %63s %63s %1023s", &n, tag, op, path) == 4)
            lines.push_back({ n, tag, op, path });
        at = end + 1;
    }
    std::sort(lines.begin(), lines.end(), [](const LogLine &a, const LogLine &b) { return a.number < b.number; });
    return lines;
}

/* ------------------------------------------------------------------ */
/* Starts                                                              */

/* Tables and an ini file of a PC. */
Files pc_files(size_t big, unsigned seed)
{
    Files f;
    f["data\\elev.dat"] = random_bytes(big, seed);
    f["data\\skema.dat"] = "skema " + std::to_string(seed) + "\r\n" + std::string(3000, (char)('a' + seed % 20));
    f["data\\timer.dat"] = random_bytes(9000, seed + 1);
    f["ini\\farver.ini"] = "[farver]\r\nbaggrund=" + std::to_string(seed) + "\r\n";
    return f;
}

/* A kiro.ini as the schedule program keeps it, made by the profile
   functions, and the same with one key changed. */
std::string make_ini(const std::string &scratch, const char *locked, const char *database)
{
    std::string file = scratch + "\\kiro.ini";
    DeleteFileA(file.c_str());
    const char *keys[][3] = {
        { "global", "insnr", "7" },          { "global", "version", "10327" },
        { "global", "skemalåst", locked },   { "global", "superkiro", "nej" },
        { "global", "flytdrev", "e:" },      { "kontakt", "database", database },
        { "kontakt", "server", "sql01.skole.local" }, { "visning", "uge", "37" },
    };
    for (auto &k : keys)
        WritePrivateProfileStringA(k[0], k[1], k[2], file.c_str());
    forget_cached_profile(file.c_str());
    return read_file(file);
}

std::string changed_ini(const std::string &scratch, const std::string &ini, const char *key, const char *value)
{
    std::string file = scratch + "\\changed.ini";
    write_file(file, ini);
    forget_cached_profile(file.c_str());
    WritePrivateProfileStringA("global", key, value, file.c_str());
    forget_cached_profile(file.c_str());
    return read_file(file);
}

/* A data directory "Data" in dir (a Windows path). */
bool write_tree(const std::string &dir, const Files &files, const std::string &ini)
{
    std::string base = dir + "\\Data\\";
    bool ok = make_dirs(base + "data") && make_dirs(base + "ini") && write_file(base + "ini\\kiro.ini", ini);
    for (const auto &f : files)
        ok = ok && write_file(base + f.first, f.second);
    return ok;
}

/* Each stick has a serial of its own, as sticks have. */
bool make_stick(const std::string &unix_dir, int k)
{
    char serial[16];
    snprintf(serial, sizeof serial, "%08x\n", 0x5c1c0000u + (unsigned)k);
    return make_dirs(windows_path(unix_dir)) && write_file(windows_path(unix_dir + "/.windows-serial"), serial);
}

/* A zip archive of files, each entry named by the full path the file has
   on the PC that packs it (data_dir + "data\\elev.dat"), as the menu names
   them. */
std::string pack_files(const std::string &scratch, const std::string &data_dir, const Files &files)
{
    std::string archive = scratch + "\\set.zip";
    DeleteFileA(archive.c_str());
    zipFile zip = zipOpen(archive.c_str(), APPEND_STATUS_CREATE);
    bool ok = zip != NULL;
    for (auto f = files.begin(); ok && f != files.end(); ++f) {
        zip_fileinfo info;
        memset(&info, 0, sizeof info);
        std::string name = data_dir + f->first;
        ok = zipOpenNewFileInZip(zip, name.c_str(), &info, NULL, 0, NULL, 0, NULL, Z_DEFLATED, Z_DEFAULT_COMPRESSION) ==
                 ZIP_OK &&
             zipWriteInFileInZip(zip, f->second.data(), (unsigned)f->second.size()) == ZIP_OK &&
             zipCloseFileInZip(zip) == ZIP_OK;
    }
    if (zip && zipClose(zip, NULL) != ZIP_OK)
        ok = false;
    std::string whole = ok ? read_file(archive) : std::string();
    DeleteFileA(archive.c_str());
    return whole;
}

/* The set another PC's menu left on two sticks: its files packed as the
   menu packs them, cut into two volumes, each flyt.ini live. */
bool write_two_disk_set(const Place &p, const std::string &scratch, const Files &set_files)
{
    std::string whole = pack_files(scratch, "P:\\Data\\", set_files);
    if (whole.empty())
        return false;
    size_t half = (whole.size() + 1) / 2;
    for (int k = 1; k <= 2; k++) {
        std::string dir = windows_path(p.template_dir(stick_name(k))) + "\\KIRO-Flyt7";
        char volume[16];
        snprintf(volume, sizeof volume, "\\Data.z%02d", k);
        if (!make_dirs(dir) || !write_file(dir + volume, whole.substr((k - 1) * half, half))
            || !write_file(dir + "\\flyt.ini", "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=" + std::to_string(k) +
                                                   "\r\nantaldiske=2\r\nskemal\xE5st=nej\r\n"))
            return false;
    }
    return true;
}

/* Fills the plan and the templates of an action. */
bool prepare(const Place &p, Plan &s, const std::string &scratch)
{
    run_unix("rm -rf " + shell_quote(p.root) + " && mkdir -p " + shell_quote(p.root + "/template"));
    std::string ini_a = make_ini(scratch, "nej", "skole_a");
    Files a = pc_files(s.scenario == CUT_MOVE_OUT_TWO_DISKS ? 150000 : 40000, 11);
    s.start_files = s.end_files = s.set_files = a;
    s.set_files["ini\\kiro.ini"] = ini_a;   /* packed before the lock */
    s.ini_start = ini_a;
    bool ok = true;
    switch (s.scenario) {
    case CUT_MOVE_OUT_ONE_DISK:
    case CUT_MOVE_OUT_TWO_DISKS:
        s.action = ACTION_MOVE;
        s.sticks = s.scenario == CUT_MOVE_OUT_ONE_DISK ? 1 : 2;
        /* Two sticks of 128 KiB take the larger data in two volumes. */
        s.stick_size = s.scenario == CUT_MOVE_OUT_ONE_DISK ? 1024UL * 1024 : 128UL * 1024;
        s.ini_end = changed_ini(scratch, ini_a, "skemalåst", "ja");
        s.ini_versions = { ini_a, s.ini_end };
        s.end_locked = true;
        s.end_set = SET_LIVE;
        break;
    case CUT_TAKE_BACK: {
        /* PC B, locked since its data went out, takes back the set PC A
           wrote; B has a table of its own that A's set lacks. */
        s.action = ACTION_MOVE;
        s.sticks = 2;
        s.stick_size = 1024UL * 1024;
        std::string ini_b = make_ini(scratch, "ja", "skole_b");
        s.start_files = pc_files(30000, 23);
        s.start_files["data\\egen.dat"] = random_bytes(5000, 29);
        s.end_files = a;
        s.end_files["data\\egen.dat"] = s.start_files["data\\egen.dat"];
        s.ini_start = ini_b;
        s.ini_end = ini_a;
        s.ini_versions = { ini_b, changed_ini(scratch, ini_a, "skemalåst", "ja"), ini_a };
        s.end_locked = false;
        s.end_set = SET_STALE;
        ok = write_two_disk_set(p, scratch, s.set_files);
        break;
    }
    case CUT_LOCK_TOGGLE:
        s.action = ACTION_LOCK;
        s.ini_end = changed_ini(scratch, ini_a, "skemalåst", "ja");
        s.ini_versions = { ini_a, s.ini_end };
        s.end_locked = true;
        break;
    default:
        s.action = ACTION_DRIVE;
        s.ini_end = changed_ini(scratch, ini_a, "flytdrev", "P:");
        s.ini_versions = { ini_a, s.ini_end };
        break;
    }
    ok = ok && write_tree(windows_path(p.template_dir("data")), s.start_files, s.ini_start);
    for (int k = 1; k <= s.sticks; k++)
        ok = ok && make_stick(p.template_dir(stick_name(k)), k);
    return ok;
}

/* ------------------------------------------------------------------ */
/* One run of the menu                                                 */

struct Round {
    bool cut = false;
    bool completed = false;
    std::string failure;
    long long operations = 0;   /* counted on the file systems */
};

bool insert_stick(const Place &p, int k)
{
    return define_drive(STICK_DRIVE, DRIVE_REMOVABLE, p.mount(stick_name(k)));
}

/* The disk a question asks for ("... nr. 2", "... nr: 2 ..."), 0 if none. */
int disk_asked_for(const std::string &text)
{
    size_t at = text.find("Indsæt");
    if (at == std::string::npos || (at = text.find("nr", at)) == std::string::npos)
        return 0;
    at += 2;
    while (at < text.size() && (text[at] == '.' || text[at] == ':' || text[at] == ' '))
        at++;
    return atoi(text.c_str() + at);
}

bool has_button(const std::vector<int> &buttons, int id)
{
    return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
}

std::string one_line(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

/* Answers a box as a user who wants the action done. */
void answer_box(const Place &p, const Plan &s, const MessageBoxSeen &box, Round &r)
{
    std::vector<int> buttons = message_box_buttons(box);
    if (box.text.compare(0, strlen(DONE_PREFIX), DONE_PREFIX) == 0) {
        r.completed = true;
        answer(box, IDOK);
    } else if (has_button(buttons, IDYES)) {
        answer(box, IDYES);
    } else if (int k = disk_asked_for(box.text)) {
        if (k > s.sticks || !insert_stick(p, k))
            r.failure = "asked for disk " + std::to_string(k) + ": " + box.text;
        answer(box, r.failure.empty() ? IDOK : IDCANCEL);
    } else if (has_button(buttons, IDRETRY)) {
        r.failure = box.text;
        answer(box, IDCANCEL);
    } else if (has_button(buttons, IDCANCEL)) {
        answer(box, IDOK);
    } else {
        r.failure = box.text;
        answer(box, IDOK);
    }
}

/* Dialogs of the menu beside its main menu (boxes, progress, Avanceret). */
int other_dialogs(DWORD pid, HWND menu)
{
    int n = 0;
    for (HWND w : top_windows(pid))
        if (w != menu && class_name(w) == "#32770")
            n++;
    return n;
}

void choose(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    for (int waited = 0; !is_checked(dialog, id) && waited < 5000; waited += 50)
        pause_ms(50);
}

int drive_entry(HWND dialog, const char *prefix)
{
    HWND combo = GetDlgItem(dialog, IDC_DRIVE_LIST);
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_NORMAL, 10000, &count))
        return -1;
    int n = (int)count;
    for (int i = 0; i < n; i++) {
        wchar_t wide[600] = L"";
        char text[600] = "";
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, i, (LPARAM)wide, SMTO_NORMAL, 10000, &got))
            return -1;
        WideCharToMultiByte(1252, 0, wide, -1, text, sizeof text, NULL, NULL);
        if (strncmp(text, prefix, strlen(prefix)) == 0)
            return i;
    }
    return -1;
}

/* Starts the action in the menu; false when a window it needs never came
   (the power may be out by then). */
bool start_action(const Place &p, const Plan &s, const Program &program, HWND menu)
{
    if (s.action == ACTION_MOVE) {
        send_message(GetDlgItem(menu, IDC_START), BM_SETCHECK, BST_UNCHECKED, 0);
        send_message(GetDlgItem(menu, IDC_MOVE), BM_SETCHECK, BST_CHECKED, 0);
        click(menu, IDC_OK);
        return true;
    }
    click(menu, IDC_ADVANCED);
    HWND advanced = NULL;
    for (int waited = 0; !advanced && waited < MAIN_MENU_LIMIT_MS && !power_out(p); waited += 500)
        advanced = wait_window(program.pid, "#32770", "Avanceret", 500);
    if (!advanced)
        return false;
    if (s.action == ACTION_LOCK) {
        choose(advanced, IDC_LOCK);
    } else {
        int entry = -1;
        for (int waited = 0; (entry = drive_entry(advanced, "(P:)")) < 0 && waited < 5000; waited += 50)
            pause_ms(50);
        if (entry < 0)
            return false;
        send_message(GetDlgItem(advanced, IDC_DRIVE_LIST), CB_SETCURSEL, entry, 0);
        choose(advanced, IDC_MOVE_DRIVE);
    }
    click(advanced, IDC_ADV_OK);
    return true;
}

/* Runs the action once through the menu, until it is done, failed or the
   power went out; the menu is ended in every case. */
Round run_round(const Place &p, const Plan &s, const std::string &program_dir)
{
    Round r;
    if (s.sticks > 0 && !insert_stick(p, 1)) {
        r.failure = "stick 1 could not be put in";
        return r;
    }
    std::string args = "-p\"" + program_dir.substr(0, program_dir.size() - 1) + "\" -d\"" + DATA_DIR + "\"";
    Program program = start_program(program_dir + "kiromenu.exe", args);
    if (!program.process) {
        r.failure = "kiromenu.exe did not start";
        return r;
    }
    HWND menu = NULL;
    for (int waited = 0; !menu && waited < MAIN_MENU_LIMIT_MS && !power_out(p); waited += 500)
        menu = wait_window(program.pid, "#32770", "KIRO-skema", 500);
    if (menu)
        wait_text(menu, IDC_START, "");
    bool started = menu && start_action(p, s, program, menu);
    int boxes = 0;
    DWORD begun = GetTickCount();
    /* The action has ended when, after a dialog of its own was seen, the
       main menu is alone for a few polls in a row. */
    bool seen = s.action != ACTION_MOVE;   /* Avanceret was there */
    int quiet = 0;
    while (started && r.failure.empty() && !power_out(p) && (int)(GetTickCount() - begun) < ROUND_LIMIT_MS) {
        MessageBoxSeen box;
        if (wait_message_box(program.pid, box, 100)) {
            seen = true;
            quiet = 0;
            if (p.verbose)
                printf("      the menu asks: %s\n", one_line(box.text).c_str());
            if (++boxes > MAX_BOXES)
                r.failure = "too many questions, the last: " + box.text;
            else
                answer_box(p, s, box, r);
            continue;
        }
        if (other_dialogs(program.pid, menu) > 0)
            seen = true, quiet = 0;
        else if (seen)
            quiet++;
        if (quiet >= 3)
            break;   /* the action has ended */
    }
    r.cut = power_out(p);
    if (!r.cut && r.failure.empty()) {
        if (!started)
            r.failure = menu ? "the action could not be started" : "the main menu did not come";
        else if ((int)(GetTickCount() - begun) >= ROUND_LIMIT_MS)
            r.failure = "the action did not end in time";
        else if (s.action != ACTION_MOVE)
            r.completed = true;   /* the dialog closed without a complaint */
        else if (!r.completed)
            r.failure = "the move ended without its last message";
    }
    cut_power(p);   /* nothing more reaches the devices */
    kill_program(program);
    return r;
}

/* ------------------------------------------------------------------ */
/* What survived                                                       */

struct Survivors {
    bool ini_parses = false;
    std::string ini;
    std::string lock;
    Files files;
    int leftovers = 0;                     /* copies of kiro.ini beside it */
    std::vector<std::string> data_dir_extra;   /* in Data\ beside data\ and ini\ */
    bool set_live = false, set_stale = false, set_whole = false;
    std::string set_difference;            /* how a complete set differs from the PC's files */
    std::string marks;
};

std::string scratch_file(const std::string &scratch, const char *name)
{
    return scratch + "\\" + name;
}

void read_folder(const std::string &dir, const char *folder, Survivors &v)
{
    std::string pattern = dir + "\\" + folder + "\\*";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (strcmp(folder, "ini") == 0 && lower(name) == "kiro.ini")
            continue;
        /* The move lock the cut left behind is held by nobody: no data. */
        if (strcmp(folder, "ini") == 0 && lower(name) == "flyt.lck")
            continue;
        if (strcmp(folder, "ini") == 0 && lower(name).compare(0, 10, "kiro.ini.~") == 0) {
            v.leftovers++;
            continue;
        }
        v.files[std::string(folder) + "\\" + name] = read_file(dir + "\\" + folder + "\\" + name);
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

/* What the data directory holds beside data\ and ini\ (lower case). */
void read_data_dir(const std::string &dir, Survivors &v)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = lower(found.cFileName);
        if (name != "." && name != ".." && name != "data" && name != "ini")
            v.data_dir_extra.push_back(name);
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

/* "data\\elev.dat" from an entry named by a full path. */
std::string entry_key(const std::string &name)
{
    size_t file = name.find_last_of("\\/");
    if (file == std::string::npos || file == 0)
        return name;
    size_t folder = name.find_last_of("\\/", file - 1);
    folder = folder == std::string::npos ? 0 : folder + 1;
    return lower(name.substr(folder, file - folder)) + "\\" + name.substr(file + 1);
}

std::string without_finished_set(const std::string &ini);

/* Unpacks the joined set (every entry read whole, its CRC checked by
   minizip) and compares it, file by file, with the files the PC had when
   it was packed (kiro.ini as the PC's is compared). "" when it holds them
   all and nothing else. */
std::string compare_set(const std::string &archive, const Files &wanted)
{
    unzFile zip = unzOpen(archive.c_str());
    if (!zip)
        return "the joined volumes are no zip archive";
    Files found;
    std::string difference;
    int at = unzGoToFirstFile(zip);
    while (at == UNZ_OK && difference.empty()) {
        char name[1024];
        unz_file_info info;
        std::string content;
        if (unzGetCurrentFileInfo(zip, &info, name, sizeof name, NULL, 0, NULL, 0) != UNZ_OK ||
            unzOpenCurrentFile(zip) != UNZ_OK) {
            difference = "an entry cannot be read";
            break;
        }
        char buffer[65536];
        int n;
        while ((n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0)
            content.append(buffer, (size_t)n);
        if (unzCloseCurrentFile(zip) != UNZ_OK || n < 0)
            difference = std::string(name) + " is damaged";
        std::string key = entry_key(name);
        found[key] = key == "ini\\kiro.ini" ? without_finished_set(content) : content;
        at = unzGoToNextFile(zip);
    }
    if (difference.empty() && at != UNZ_END_OF_LIST_OF_FILE)
        difference = "the archive's directory is damaged";
    unzClose(zip);
    for (auto f = wanted.begin(); difference.empty() && f != wanted.end(); ++f) {
        auto got = found.find(f->first);
        if (got == found.end())
            difference = f->first + " is missing from it";
        else if (got->second != f->second)
            difference = f->first + " in it is not the PC's";
    }
    for (auto f = found.begin(); difference.empty() && f != found.end(); ++f)
        if (!wanted.count(f->first))
            difference = f->first + " should not be in it";
    return difference;
}

/* kiro.ini without the identity of the last set this PC finished
   ("afsluttetflyt"): a take-back or a withdrawal done on the way to an
   action's end remembers one, which the tidy run never needs to. */
std::string without_finished_set(const std::string &ini)
{
    std::string kept;
    size_t at = 0;
    while (at < ini.size()) {
        size_t end = ini.find('\n', at);
        end = end == std::string::npos ? ini.size() : end + 1;
        if (ini.compare(at, 14, "afsluttetflyt=") != 0)
            kept.append(ini, at, end - at);
        at = end;
    }
    return kept;
}

Survivors inspect(const Place &p, const Plan &s, const std::string &scratch)
{
    Survivors v;
    std::string data = windows_path(p.backing("data")) + "\\Data";
    std::string ini = data + "\\ini\\kiro.ini";
    if (file_exists(ini)) {
        v.ini = without_finished_set(read_file(ini));
        forget_cached_profile(ini.c_str());
        char lock[16] = "";
        GetPrivateProfileStringA("global", "skemalåst", "nej", lock, sizeof lock, ini.c_str());
        v.lock = lock;
        v.ini_parses = GetPrivateProfileIntA("global", "insnr", 0, ini.c_str()) == 7
                       && GetPrivateProfileIntA("global", "version", 0, ini.c_str()) == 10327;
    }
    read_folder(data, "data", v);
    read_folder(data, "ini", v);
    read_data_dir(data, v);
    if (s.sticks == 0)
        return v;
    /* The set: disks 1..n, each with its flyt.ini of this installation and
       its volume; live when the last says "nej" and none says "ja". */
    int n = 0;
    bool complete = true;
    std::string joined;
    std::string last_mark;
    for (int k = 1; k <= s.sticks; k++) {
        std::string dir = windows_path(p.backing(stick_name(k))) + "\\KIRO-Flyt7";
        std::string flyt = dir + "\\flyt.ini";
        if (!file_exists(flyt)) {
            complete = complete && k > n;
            continue;
        }
        forget_cached_profile(flyt.c_str());
        char mark[16] = "";
        GetPrivateProfileStringA("global", "skemalåst", "", mark, sizeof mark, flyt.c_str());
        v.marks += std::string(v.marks.empty() ? "" : ",") + std::to_string(k) + ":" + mark;
        if (strcmp(mark, "ja") == 0)
            v.set_stale = true;
        int count = (int)GetPrivateProfileIntA("global", "antaldiske", 0, flyt.c_str());
        if (k == 1)
            n = count;
        char volume[16];
        snprintf(volume, sizeof volume, "\\Data.z%02d", k);
        if (k <= n) {
            complete = complete && count == n
                       && (int)GetPrivateProfileIntA("global", "disknr", 0, flyt.c_str()) == k
                       && GetPrivateProfileIntA("global", "Insnr", 0, flyt.c_str()) == 7
                       && GetPrivateProfileIntA("global", "version", 0, flyt.c_str()) == 10327
                       && file_exists(dir + volume);
            joined += read_file(dir + volume);
            if (k == n)
                last_mark = mark;
        }
    }
    complete = complete && n >= 1 && n <= s.sticks;
    v.set_live = complete && last_mark == "nej" && !v.set_stale;
    if (complete) {
        std::string archive = scratch_file(scratch, "joined.zip");
        v.set_difference = write_file(archive, joined) ? compare_set(archive, s.set_files) : "it cannot be joined";
        v.set_whole = v.set_difference.empty();
        DeleteFileA(archive.c_str());
    }
    return v;
}

/* ------------------------------------------------------------------ */
/* The checks                                                          */

struct Outcome {
    std::vector<std::string> violations;
    bool without_live_copy = false;
};

bool reached_end(const Survivors &v, const Plan &s)
{
    if (s.action != ACTION_MOVE)
        return v.ini == s.ini_end;
    bool pc_locked = v.lock == "ja";
    if (pc_locked != s.end_locked)
        return false;
    return s.end_set == SET_LIVE ? v.set_live : v.set_stale;
}

/* Every table and ini file of the PC: old or new whole after a cut, new
   at the end. None ever disappears, and nothing else turns up. */
void check_files(const Survivors &v, const Plan &s, bool at_end, Outcome &o)
{
    std::set<std::string> names;
    for (const auto &f : s.start_files)
        names.insert(f.first);
    for (const auto &f : s.end_files)
        names.insert(f.first);
    for (const std::string &name : names) {
        auto found = v.files.find(name);
        if (found == v.files.end()) {
            o.violations.push_back(name + " is missing");
            continue;
        }
        auto was = s.start_files.find(name), will = s.end_files.find(name);
        bool is_old = was != s.start_files.end() && found->second == was->second;
        bool is_new = will != s.end_files.end() && found->second == will->second;
        if (at_end && !is_new)
            o.violations.push_back(name + " is not its new version");
        else if (!is_old && !is_new)
            o.violations.push_back(name + " is neither its old nor its new version whole");
    }
    for (const auto &f : v.files)
        if (!names.count(f.first))
            o.violations.push_back(f.first + " should not be there");
}

/* The data directory holds data\ and ini\ and, where a cut came, what a
   move leaves while it runs (the move archive, its packing name, the
   staging folder), which the next move removes first; a tidy run leaves
   none of these behind, nor does anything else ever turn up. */
void check_data_dir(const Survivors &v, bool tidy, Outcome &o)
{
    for (const std::string &name : v.data_dir_extra) {
        bool in_flight = name == "data.zip" || name == "data.tvk" || name == "flyt.tmp";
        if (!in_flight)
            o.violations.push_back(name + " should not be in the data directory");
        else if (tidy)
            o.violations.push_back(name + " was left in the data directory");
    }
}

/* Every file of the PC is its new version: what the PC must hold when its
   data are the live ones after the action. */
std::string first_not_new(const Survivors &v, const Plan &s)
{
    for (const auto &f : s.end_files) {
        auto found = v.files.find(f.first);
        if (found == v.files.end() || found->second != f.second)
            return f.first;
    }
    return "";
}

/* What a cut may leave: every file old or new whole, the data live in one
   place (or none, to be completed by the next action). */
Outcome check_after_cut(const Survivors &v, const Plan &s)
{
    Outcome o;
    if (!v.ini_parses)
        o.violations.push_back("kiro.ini lost its installation number or version");
    else if (std::find(s.ini_versions.begin(), s.ini_versions.end(), v.ini) == s.ini_versions.end())
        o.violations.push_back("kiro.ini is neither its old version nor a new one");
    check_files(v, s, false, o);
    check_data_dir(v, false, o);
    if (s.action == ACTION_MOVE) {
        bool pc_live = v.lock != "ja";
        if (pc_live && v.set_live)
            o.violations.push_back("the data are live on this PC and on the sticks (marks " + v.marks + ")");
        else if (!pc_live && !v.set_live)
            o.without_live_copy = true;
        if (v.set_live && !v.set_whole)
            o.violations.push_back("the live set on the sticks is not the PC's data: " + v.set_difference);
        std::string stale = pc_live && !v.set_live ? first_not_new(v, s) : "";
        if (!stale.empty())
            o.violations.push_back("the data live on this PC are not the new data: " + stale);
    } else if (s.action == ACTION_DRIVE && v.lock == "ja") {
        o.violations.push_back("saving the move drive locked the PC");
    }
    return o;
}

/* The end of a completed action, on the devices. */
void check_end(const Survivors &v, const Plan &s, bool tidy, Outcome &o)
{
    if (v.ini != s.ini_end)
        o.violations.push_back("at the end kiro.ini is not the new version");
    check_files(v, s, true, o);
    check_data_dir(v, tidy, o);
    if (v.leftovers)
        o.violations.push_back("a copy of kiro.ini was left beside it after a start");
    if (s.end_set == SET_LIVE && !(v.set_live && v.set_whole))
        o.violations.push_back("at the end the set is not live and whole (marks " + v.marks +
                               (v.set_difference.empty() ? "" : "; " + v.set_difference) + ")");
    if (s.end_set == SET_STALE && !v.set_stale)
        o.violations.push_back("at the end the set is not marked as taken back (marks " + v.marks + ")");
}

/* ------------------------------------------------------------------ */
/* The campaign of one action                                          */

std::string describe(const std::vector<LogLine> &log, long long k)
{
    if (k == 0)
        return "before the first operation";
    for (const LogLine &l : log)
        if (l.number == k)
            return "after " + std::to_string(k) + " " + l.tag + " " + l.op + " " + l.path;
    return "after " + std::to_string(k);
}

bool state_file_flush_or_rename(const LogLine &l)
{
    std::string path = lower(l.path);
    bool state_file = path.find("kiro.ini") != std::string::npos || path.find("flyt.ini") != std::string::npos;
    return state_file && (l.op == "fsync" || l.op == "fdatasync" || l.op == "rename");
}

std::vector<long long> choose_cuts(const std::vector<LogLine> &log, long long total, int sample)
{
    std::set<long long> cuts;
    if (sample <= 0) {
        for (long long k = 0; k <= total; k++)
            cuts.insert(k);
    } else {
        cuts.insert(0);
        cuts.insert(total);
        for (const LogLine &l : log)
            if (state_file_flush_or_rename(l)) {
                cuts.insert(l.number - 1);
                cuts.insert(l.number);
            }
        for (int i = 1; (int)cuts.size() < sample && i < sample; i++)
            cuts.insert(total * i / sample);
    }
    return std::vector<long long>(cuts.begin(), cuts.end());
}

struct Campaign {
    const CampaignOptions &options;
    CampaignFigures &figures;
    std::string program_dir;
    std::string scratch;
};

void record(Campaign &c, const Plan &s, const std::string &when, const std::string &what)
{
    std::string line = std::string(scenario_name(s.scenario)) + ", " + when + ": " + what;
    c.figures.violations++;
    c.figures.findings.push_back(line);
    printf("VIOLATION %s\n", line.c_str());
    fflush(stdout);
}

/* A round with the file systems mounted, ended by a cut, and what
   survived. */
bool run_mounted(Campaign &c, const Place &p, const Plan &s, long long cut_after, bool log, Round &r,
                 Survivors &v)
{
    if (!mount_all(p, s, cut_after, log)) {
        c.figures.setup_failure = "powercutfs could not be mounted (root, /dev/fuse and fuse3 are needed)";
        unmount_all(p);
        return false;
    }
    r = run_round(p, s, c.program_dir);
    if (!unmount_all(p)) {
        c.figures.setup_failure = "a powercutfs mount could not be undone or its daemon did not end";
        return false;
    }
    Control control;
    if (!read_control(p, &control)) {
        c.figures.setup_failure = "the control file of the file systems could not be read";
        return false;
    }
    if (control.undo_failures) {
        c.figures.setup_failure = "powercutfs could not undo " + std::to_string(control.undo_failures) +
                                  " pending changes at a cut";
        return false;
    }
    r.operations = control.operations;
    v = inspect(p, s, c.scratch);
    return true;
}

bool reset(Campaign &c, const Place &p, const Plan &s)
{
    if (reset_backing(p))
        return true;
    c.figures.setup_failure =
        std::string("the backing folders of ") + scenario_name(s.scenario) + " could not be reset";
    return false;
}

/* Why a round cut after operation k did not make that crash state ("" when
   it did): the power must have gone out at operation k + 1, or the round
   have completed with exactly k operations. */
std::string missed_cut(const Round &r, long long k)
{
    std::string why;
    if (r.cut && r.operations != k + 1)
        why = "the power went out at operation " + std::to_string(r.operations);
    else if (!r.cut && r.operations != k)
        why = "the round ended after " + std::to_string(r.operations) + " operations";
    else if (!r.cut && !r.completed)
        why = "the round did not complete";
    if (!why.empty() && !r.failure.empty())
        why += " (" + r.failure + ")";
    return why;
}

void round_failed(Campaign &c, const Plan &s, const std::string &when, const std::string &why)
{
    std::string line = std::string(scenario_name(s.scenario)) + ", " + when + ": not tried, " + why;
    c.figures.failures.push_back(line);
    printf("CAMPAIGN FAILURE %s\n", line.c_str());
    fflush(stdout);
}

/* One crash state: cut after operation k, check, do it again, check. */
bool crash_state(Campaign &c, const Place &p, const Plan &s, const std::vector<LogLine> &log, long long k)
{
    std::string when = describe(log, k);
    Round r;
    Survivors v;
    if (!reset(c, p, s) || !run_mounted(c, p, s, k, false, r, v))
        return false;
    std::string missed = missed_cut(r, k);
    if (!missed.empty()) {
        round_failed(c, s, when, missed);
        return true;
    }
    c.figures.tried++;
    Outcome o = check_after_cut(v, s);
    std::string left;
    for (const std::string &name : v.data_dir_extra)
        left += " " + name;
    if (o.without_live_copy) {
        c.figures.without_live_copy++;
        c.figures.notes.push_back(std::string(scenario_name(s.scenario)) + ", " + when +
                                  ": live nowhere (PC " + (v.lock == "ja" ? "locked" : "open") + ", set marks " +
                                  (v.marks.empty() ? "none" : v.marks) + ")");
    }
    for (int round = 0; round < 2 && !reached_end(v, s); round++) {
        Round again;
        if (!run_mounted(c, p, s, -1, false, again, v))
            return false;
        if (!again.completed) {
            o.violations.push_back("done again it did not complete: " + again.failure);
            break;
        }
    }
    if (!reached_end(v, s))
        o.violations.push_back("done again it did not reach its end (PC " + std::string(v.lock == "ja" ? "locked" : "open") +
                               ", set marks " + v.marks + ")");
    else
        check_end(v, s, false, o);
    for (const std::string &what : o.violations)
        record(c, s, when, what);
    if (c.options.verbose)
        printf("  %s %s: %s%s%s%s\n", scenario_name(s.scenario), when.c_str(),
               o.violations.empty() ? "ok" : "VIOLATED", o.without_live_copy ? " (live nowhere until completed)" : "",
               left.empty() ? "" : "; the cut left in the data directory:", left.c_str());
    fflush(stdout);
    return true;
}

void run_scenario(Campaign &c, CutScenario scenario, const std::string &root)
{
    Place p;
    p.root = root + "/" + scenario_name(scenario);
    p.bin = build_unix_dir() + "/powercut/powercutfs";
    p.control = p.root + "/control";
    p.log = p.root + "/operations.log";
    p.folders_at_once = c.options.folders_at_once;
    p.verbose = c.options.verbose;
    Plan s;
    s.scenario = scenario;
    if (!prepare(p, s, c.scratch)) {
        c.figures.setup_failure = std::string("the start of ") + scenario_name(scenario) + " could not be written";
        return;
    }
    p.names.push_back("data");
    for (int k = 1; k <= s.sticks; k++)
        p.names.push_back(stick_name(k));
    if (!define_drive(DATA_DRIVE, DRIVE_FIXED, p.mount("data"))) {
        c.figures.setup_failure = "drive P: could not be defined";
        return;
    }
    /* The move drive is there for every action, as the settings name it;
       without a stick of its own an action finds it empty. */
    std::string empty_stick = p.root + "/empty-stick";
    if (s.sticks == 0 &&
        (run_unix("mkdir -p " + shell_quote(empty_stick)) != 0 ||
         !define_drive(STICK_DRIVE, DRIVE_REMOVABLE, empty_stick))) {
        c.figures.setup_failure = "drive E: could not be defined";
        return;
    }

    /* The tidy run: it must complete, durable, and gives the count. A run
       that completes but does not end durably is a violation; the crash
       states are tried all the same. */
    Round r;
    Survivors v;
    if (!reset(c, p, s) || !run_mounted(c, p, s, -1, true, r, v))
        return;
    std::vector<LogLine> log = read_log(p);
    long long total = log.empty() ? 0 : log.back().number;
    c.figures.operations += (int)total;
    Outcome tidy;
    if (!r.completed)
        tidy.violations.push_back("the tidy run did not complete: " + r.failure);
    else if (total != r.operations)
        tidy.violations.push_back("the log of the tidy run lacks operations");
    else
        check_end(v, s, true, tidy);
    for (const std::string &what : tidy.violations)
        record(c, s, "tidy run", what);
    if (!r.completed || total != r.operations)
        return;

    if (c.options.verbose)
        for (const LogLine &l : log)
            printf("    %lld %s %s %s\n", l.number, l.tag.c_str(), l.op.c_str(), l.path.c_str());
    std::vector<long long> cuts = choose_cuts(log, total, c.options.sample);
    int tried = c.figures.tried, violations = c.figures.violations;
    printf("%s: %lld operations in a tidy run, %d crash states to try\n", scenario_name(scenario), total,
           (int)cuts.size());
    fflush(stdout);
    for (long long k : cuts)
        if (!crash_state(c, p, s, log, k))
            break;
    printf("%s: crash states tried %d, violations %d\n", scenario_name(scenario), c.figures.tried - tried,
           c.figures.violations - violations);
    fflush(stdout);
    run_unix("rm -rf " + shell_quote(p.root));
}

}  // namespace

const char *scenario_name(CutScenario scenario)
{
    switch (scenario) {
    case CUT_MOVE_OUT_ONE_DISK: return "move-out-1-disk";
    case CUT_MOVE_OUT_TWO_DISKS: return "move-out-2-disks";
    case CUT_TAKE_BACK: return "take-back-2-disks";
    case CUT_LOCK_TOGGLE: return "lock-toggle";
    default: return "move-drive";
    }
}

CampaignFigures run_campaign(const CampaignOptions &options)
{
    CampaignFigures figures;
    Campaign c = { options, figures, "", "" };
    std::string root = build_unix_dir() + "/powercut/run-" + std::to_string(GetCurrentProcessId());
    if (!file_exists(windows_path(build_unix_dir() + "/powercut/powercutfs"))) {
        figures.setup_failure = "build/powercut/powercutfs is missing (tools/build.sh builds it)";
        return figures;
    }
    /* The program on drive C:, as installed; its data on the cut drives. */
    Installation inst = make_installation("powercut");
    c.program_dir = inst.program_dir;
    c.scratch = make_scratch_dir("powercut_scratch");

    std::vector<CutScenario> scenarios = options.scenarios;
    if (scenarios.empty())
        for (int k = 0; k < CUT_SCENARIO_COUNT; k++)
            scenarios.push_back((CutScenario)k);
    for (CutScenario scenario : scenarios) {
        run_scenario(c, scenario, root);
        if (!figures.setup_failure.empty())
            break;
    }
    remove_drive(STICK_DRIVE);
    remove_drive(DATA_DRIVE);
    run_unix("rm -rf " + shell_quote(root));
    remove_tree(c.scratch);
    remove_tree(inst.root);

    printf("crash states tried: %d, violations: %d, live nowhere: %d, rounds not tried: %zu "
           "(operations in the tidy runs: %d)\n",
           figures.tried, figures.violations, figures.without_live_copy, figures.failures.size(), figures.operations);
    for (const std::string &note : figures.notes)
        printf("  %s\n", note.c_str());
    for (const std::string &failure : figures.failures)
        printf("  campaign failure: %s\n", failure.c_str());
    if (!figures.setup_failure.empty())
        printf("the campaign could not run: %s\n", figures.setup_failure.c_str());
    fflush(stdout);
    return figures;
}
