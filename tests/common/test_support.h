/*
 * Helpers shared by the tests: scratch folders, files, a scripted answerer
 * for the program's message boxes (in-process tests), and demo-like
 * installations of kiromenu.exe for the tests that drive the real program.
 */
#ifndef KIRO_TEST_SUPPORT_H
#define KIRO_TEST_SUPPORT_H

#include <windows.h>
#include <string>
#include <vector>

/* A new empty folder for one test (Windows path, ends without backslash). */
std::string make_scratch_dir(const char *name);
/* Removes a folder tree, clearing read-only marks first. */
void remove_tree(const std::string &dir);

bool write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
bool make_dirs(const std::string &path);
/* n deterministic bytes that do not compress, different for each seed. */
std::string random_bytes(size_t n, unsigned seed);

/* The folder of the running test executable, with a trailing backslash. */
std::string test_exe_dir();
/* build/kiromenu.exe of the build the test belongs to. */
std::string kiromenu_exe();

/* Answers the program's message boxes in-process, in order, and records
   every box shown. */
struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};
struct ScriptedBoxes {
    ScriptedBoxes(std::vector<int> answers = {});
    ~ScriptedBoxes();
    std::vector<int> answers;     /* consumed front to back; IDOK when empty */
    std::vector<ShownBox> shown;
};

/* An installation for the real program: program folder with a copy of
   kiromenu.exe, data folder with ini\kiro.ini. */
struct Installation {
    std::string root;         /* scratch folder */
    std::string program_dir;  /* with trailing backslash */
    std::string data_dir;     /* with trailing backslash */
    std::string ini() const { return data_dir + "ini\\kiro.ini"; }
    std::string args() const;  /* -p"..." -d"..." */
};
Installation make_installation(const char *name, int installation = 7, int version = 10327,
                               const char *super = "nej", const char *locked = "nej",
                               const char *move_drive = "e:");
/* Writes a key of section "global" of the installation's kiro.ini. */
void set_ini(const Installation &inst, const char *key, const char *value);

#endif
