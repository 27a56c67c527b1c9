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
#include "archive/checksum.h"
#include "archive/zip_write.h"
#include "support/profile_file.h"
#include "driver.h"
#include "drive_fixture.h"
#include "test_support.h"
#include "resource.h"

#include <windows.h>
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
    std::string ini_start, ini_end;          /* kiro.ini, byte for byte */
    std::vector<std::string> ini_versions;   /* every version kiro.ini may have */
    bool end_locked = false;
    SetEnd end_set = SET_NONE;
};

/* The folders of one action (Unix paths). */
struct Place {
    std::string root, bin, control, log;
    std::vector<std::string> names;   /* "data", "stick1", "stick2" */
    std::string template_dir(const std::string &n) const { return root + "/template/" + n; }
    std::string backing(const std::string &n) const { return root + "/backing/" + n; }
    std::string mount(const std::string &n) const { return root + "/mnt/" + n; }
};

struct LogLine {
    long long number;
    std::string tag, op, path;
};

std::string quote(const std::string &text)
{
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

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
    return run_unix("rm -rf " + quote(p.root + "/backing") + " && mkdir -p " + quote(p.root + "/backing") +
                    " && cp -a " + quote(p.root + "/template") + "/. " + quote(p.root + "/backing"),
                    60000) == 0;
}

bool mount_all(const Place &p, const Plan &s, long long cut_after, bool log)
{
    std::string script = "rm -f " + quote(p.control) + (log ? " " + quote(p.log) : std::string()) + " && ";
    for (const std::string &n : p.names) {
        unsigned long size = n == "data" ? DATA_DRIVE_SIZE : s.stick_size;
        script += "mkdir -p " + quote(p.mount(n)) + " && " + quote(p.bin) + " " + quote(p.backing(n)) + " " +
                  quote(p.mount(n)) + " --control=" + quote(p.control) + " --tag=" + n +
                  " --cut-after=" + std::to_string(cut_after) + " --size=" + std::to_string(size) +
                  (log ? " --log=" + quote(p.log) : std::string()) + " && ";
    }
    return run_unix(script + "true", 60000) == 0;
}

/* Unmounts every file system of the action; a mount still busy (the ended
   menu's files not yet closed by the wine server) is tried again, and
   detached as a last resort. False when one is still mounted. */
bool unmount_all(const Place &p)
{
    /* Whether a file system is mounted there is read from the mount table:
       a file system without power answers every question with an error. */
    std::string script = "mounted() { awk -v m=\"$1\" '$2 == m { f = 1 } END { exit !f }' /proc/mounts; }; ";
    for (const std::string &n : p.names) {
        std::string m = quote(p.mount(n));
        script += "i=0; while mounted " + m + " && [ $i -lt 100 ]; do fusermount3 -u " + m +
                  " 2>/dev/null || sleep 0.1; i=$((i+1)); done; mounted " + m + " && umount -l " + m + "; ";
    }
    script += "true";
    for (const std::string &n : p.names)
        script += " && ! mounted " + quote(p.mount(n));
    return run_unix(script, 60000) == 0;
}

/* The shared count and switch of the file systems. */
bool read_control(const Place &p, long long *operations, bool *cut)
{
    std::string bytes = read_file(windows_path(p.control));
    if (bytes.size() < 24)
        return false;
    long long ops;
    int flag;
    memcpy(&ops, bytes.data() + 8, sizeof ops);
    memcpy(&flag, bytes.data() + 16, sizeof flag);
    *operations = ops;
    *cut = flag != 0;
    return true;
}

bool power_out(const Place &p)
{
    long long ops = 0;
    bool cut = false;
    return read_control(p, &ops, &cut) && cut;
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

/* The set another PC's menu left on two sticks: its files packed as the
   menu packs them, cut into two volumes, each flyt.ini live. */
bool write_two_disk_set(const Place &p, const std::string &scratch, const Files &files, const std::string &ini)
{
    std::string source = scratch + "\\source";
    remove_tree(source);
    std::string archive = scratch + "\\set.zip";
    DeleteFileA(archive.c_str());
    if (!write_tree(source, files, ini))
        return false;
    for (const char *folder : { "data", "ini" }) {
        std::string pattern = source + "\\Data\\" + folder + (std::string(folder) == "data" ? "\\*.dat" : "\\*.*");
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA(pattern.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                std::string file = source + "\\Data\\" + folder + "\\" + found.cFileName;
                if (zip_add_file(archive.c_str(), file.c_str(), NULL) != 0)
                    return false;
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    std::string whole = read_file(archive);
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
    run_unix("rm -rf " + quote(p.root) + " && mkdir -p " + quote(p.root + "/template"));
    std::string ini_a = make_ini(scratch, "nej", "skole_a");
    Files a = pc_files(s.scenario == CUT_MOVE_OUT_TWO_DISKS ? 150000 : 40000, 11);
    s.start_files = s.end_files = a;
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
        ok = write_two_disk_set(p, scratch, a, ini_a);
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
    int leftovers = 0;
    bool set_live = false, set_stale = false, set_whole = false;
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
        v.set_whole = write_file(archive, joined) && test_archive(archive.c_str()) == 0;
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
    if (s.action == ACTION_MOVE) {
        bool pc_live = v.lock != "ja";
        if (pc_live && v.set_live)
            o.violations.push_back("the data are live on this PC and on the sticks (marks " + v.marks + ")");
        else if (!pc_live && !v.set_live)
            o.without_live_copy = true;
        if (v.set_live && !v.set_whole)
            o.violations.push_back("the live set on the sticks is damaged");
    } else if (s.action == ACTION_DRIVE && v.lock == "ja") {
        o.violations.push_back("saving the move drive locked the PC");
    }
    return o;
}

/* The end of a completed action, on the devices. */
void check_end(const Survivors &v, const Plan &s, Outcome &o)
{
    if (v.ini != s.ini_end)
        o.violations.push_back("at the end kiro.ini is not the new version");
    check_files(v, s, true, o);
    if (v.leftovers)
        o.violations.push_back("a copy of kiro.ini was left beside it after a start");
    if (s.end_set == SET_LIVE && !(v.set_live && v.set_whole))
        o.violations.push_back("at the end the set is not live and whole (marks " + v.marks + ")");
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
        c.figures.setup_failure = "a powercutfs mount could not be undone";
        return false;
    }
    v = inspect(p, s, c.scratch);
    return true;
}

/* One crash state: cut after operation k, check, do it again, check. */
bool crash_state(Campaign &c, const Place &p, const Plan &s, const std::vector<LogLine> &log, long long k)
{
    std::string when = describe(log, k);
    Round r;
    Survivors v;
    if (!reset_backing(p) || !run_mounted(c, p, s, k, false, r, v))
        return false;
    c.figures.tried++;
    Outcome o = check_after_cut(v, s);
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
        check_end(v, s, o);
    for (const std::string &what : o.violations)
        record(c, s, when, what);
    if (c.options.verbose)
        printf("  %s %s: %s%s\n", scenario_name(s.scenario), when.c_str(),
               o.violations.empty() ? "ok" : "VIOLATED", o.without_live_copy ? " (live nowhere until completed)" : "");
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

    /* The tidy run: it must complete, durable, and gives the count. */
    Round r;
    Survivors v;
    if (!reset_backing(p) || !run_mounted(c, p, s, -1, true, r, v))
        return;
    std::vector<LogLine> log = read_log(p);
    long long total = log.empty() ? 0 : log.back().number;
    c.figures.operations += (int)total;
    Outcome tidy;
    if (!r.completed)
        tidy.violations.push_back("the tidy run did not complete: " + r.failure);
    else
        check_end(v, s, tidy);
    for (const std::string &what : tidy.violations)
        record(c, s, "tidy run", what);
    if (!tidy.violations.empty())
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
    run_unix("rm -rf " + quote(p.root));
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
    run_unix("rm -rf " + quote(root));
    remove_tree(c.scratch);
    remove_tree(inst.root);

    printf("crash states tried: %d, violations: %d (operations in the tidy runs: %d)\n", figures.tried,
           figures.violations, figures.operations);
    for (const std::string &note : figures.notes)
        printf("  %s\n", note.c_str());
    if (!figures.setup_failure.empty())
        printf("the campaign could not run: %s\n", figures.setup_failure.c_str());
    fflush(stdout);
    return figures;
}
