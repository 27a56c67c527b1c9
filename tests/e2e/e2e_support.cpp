/*
 * Helpers of the end-to-end roads (see e2e_support.h).
 */
#include "e2e_support.h"
#include "resource.h"

#include <gtest/gtest.h>

Menu open_menu(const Installation &inst)
{
    Menu m;
    m.program = start_program(inst.program_dir + "kiromenu.exe", inst.args());
    if (m.program.process)
        m.dialog = wait_main_menu(m.program.pid);
    return m;
}

void choose_and_ok(Menu &menu, int choice)
{
    press(menu.dialog, choice);
    for (int i = 0; i < 100 && !is_checked(menu.dialog, choice); i++)
        pause_ms(20);
    click(menu.dialog, IDC_OK);
}

bool expect_box(Menu &menu, const std::string &expected, int button, MessageBoxSeen *seen, int timeout_ms)
{
    MessageBoxSeen box;
    if (!wait_message_box(menu.program.pid, box, timeout_ms)) {
        ADD_FAILURE() << "no message box; expected: " << expected;
        return false;
    }
    if (seen)
        *seen = box;
    bool match = box.text.find(expected) != std::string::npos;
    EXPECT_TRUE(match) << "expected \"" << expected << "\", got [" << box.caption << "] \"" << box.text << "\"";
    answer(box, button);
    return match;
}

bool close_menu(Menu &menu)
{
    click(menu.dialog, IDC_CLOSE);
    return wait_exit(menu.program) == 0;
}

std::map<std::string, std::string> folder_files(const std::string &dir)
{
    std::map<std::string, std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files[found.cFileName] = read_file(dir + "\\" + found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return files;
}

void fill_data(const Installation &inst, int n, int size, unsigned seed)
{
    unsigned x = seed * 2654435761u + 1;
    static const char *names[] = { "anom", "akti", "loka", "pers", "risy", "kaldag", "elev", "tg" };
    for (int i = 0; i < n; i++) {
        std::string content(size, '\0');
        for (char &c : content) {
            x ^= x << 13; x ^= x >> 17; x ^= x << 5;
            c = (char)(x & 0xFF);
        }
        write_file(inst.data_dir + "data\\" + names[i % 8] + (i >= 8 ? std::to_string(i) : "") + ".DAT",
                   content);
    }
    write_file(inst.data_dir + "ini\\skema.ini", "[visning]\r\nseed=" + std::to_string(seed) + "\r\n");
}

std::string ini_value(const std::string &ini, const char *key)
{
    char value[64];
    GetPrivateProfileStringA("global", key, "", value, sizeof value, ini.c_str());
    return value;
}
