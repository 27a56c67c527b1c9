/*
 * Test driver for kiromenu.exe under Wine: starts the program, finds its
 * windows by process, class and caption with bounded waits, reads window and
 * control texts, presses buttons, reads and answers message boxes, and runs
 * commands of the Unix machine underneath (mounts, screenshots). Window
 * handles are shared by all processes of a Wine prefix, so every call works
 * across processes. No wait is without a limit.
 */
#ifndef KIRO_DRIVER_H
#define KIRO_DRIVER_H

#include <windows.h>
#include <string>
#include <vector>

struct Program {
    HANDLE process;
    DWORD pid;
};

/* Starts exe with the command line "exe args" (exe passed as the
   application name too) in directory cwd (NULL: the test's own). */
Program start_program(const std::string &exe, const std::string &args, const char *cwd = NULL);
/* The same with the whole command line as given (its first word as a
   user's shortcut or prompt gives it, e.g. a bare "kiromenu.exe"). */
Program start_program_line(const std::string &exe, const std::string &line, const char *cwd = NULL);
/* Ends every program started by start_program that still runs and answers
   how many there were: a test that fails early leaves its menu behind, and
   the next test must not find it on the display. */
int end_started_programs();
/* Waits for the end; the exit code, or -1 on time-out (the process is then
   killed). Closes the handle. */
int wait_exit(Program &program, int timeout_ms = 20000);
void kill_program(Program &program);
bool is_running(const Program &program);

/* A visible top-level window of pid whose class and caption match (NULL
   matches any); NULL after timeout_ms. */
HWND wait_window(DWORD pid, const char *class_name, const char *caption, int timeout_ms = 10000);
/* The main menu dialog of pid ("KIRO-skema") once it has painted for the
   first time, which is when its labels are set; NULL after timeout_ms. */
HWND wait_main_menu(DWORD pid, int timeout_ms = 20000);
/* All visible top-level windows of pid. */
std::vector<HWND> top_windows(DWORD pid);

std::string window_text(HWND window);
std::string control_text(HWND dialog, int id);
/* The text of a control once it reads expected (any text at all when
   expected is empty), or what it reads after the time limit: labels set
   when a dialog first paints are there only a moment after it shows. */
std::string wait_text(HWND dialog, int id, const std::string &expected, int timeout_ms = 5000);
std::string class_name(HWND window);
bool is_checked(HWND dialog, int id);

/* Waits until the thread of window has handled what it was doing and is
   back at its messages (a message sent to it has been answered); false
   after timeout_ms. What a posted message or an input event set going is
   only over once its effect has been seen: wait for that first. */
bool wait_idle(HWND window, int timeout_ms = 20000);
/* A message sent to a window of another process, answered within
   timeout_ms (0 otherwise). */
LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, int timeout_ms = 10000);
/* Waits until control id of dialog is checked and the dialog has handled
   the click; the final state. */
bool wait_checked(HWND dialog, int id, int timeout_ms = 5000);

/* Posts a click on button id of dialog (WM_COMMAND with BN_CLICKED). */
void click(HWND dialog, int id);
/* Posts BM_CLICK to control id: the control behaves as if clicked (a
   radio button checks itself and notifies the dialog). */
void press(HWND dialog, int id);
/* Posts a key press (WM_KEYDOWN/WM_KEYUP) to control id of dialog. */
void press_key(HWND dialog, int id, UINT virtual_key);
/* Gives the keyboard focus to a control of another process's dialog. */
void set_focus(HWND dialog, int id);

struct MessageBoxSeen {
    HWND window;
    std::string caption;
    std::string text;
    HWND owner;
    HICON icon;
};
/* Waits for a message box of pid (class #32770 with a text control 0xFFFF). */
bool wait_message_box(DWORD pid, MessageBoxSeen &box, int timeout_ms = 10000);
/* Presses a message box's button (IDOK, IDYES, ...), waits until it is gone. */
void answer(const MessageBoxSeen &box, int button);
/* Which of the standard icons the box shows: MB_ICONERROR, MB_ICONWARNING,
   MB_ICONINFORMATION, MB_ICONQUESTION or 0. The icon is read off the
   screen, which every test of the prefix shares: the box is put on top,
   and a reading counts only when the X server shows the box's own window
   over the icon before and after it; one test reads at a time. */
UINT message_box_icon(const MessageBoxSeen &box);
/* The ids of the box's push buttons, in creation order. */
std::vector<int> message_box_buttons(const MessageBoxSeen &box);

/* Runs a command of the machine underneath (/bin/sh -c) and waits for it;
   its exit status, or -1 on time-out. */
int run_unix(const std::string &command, int timeout_ms = 30000);
/* Ends a Unix process started in the background by a test, whose id the
   file at unix_pid_file holds, and removes the file; nothing when the
   file is empty or gone. */
void end_unix_process(const std::string &unix_pid_file);
/* The Unix path of a Windows path, and the Windows path of a Unix path
   (always through drive Z:, the root file system). */
std::string unix_path(const std::string &windows_path);
std::string windows_path(const std::string &unix_path);

/* Saves a picture of the whole screen as PNG (ImageMagick's import). */
bool screenshot(const std::string &png_windows_path);
/* The build's screenshot folder (Windows path, created on demand) +
   name: where the tests leave the pictures to look at. */
std::string screenshot_path(const char *name);

/* Sleeps while keeping this thread's own windows serviced. */
void pause_ms(int ms);

#endif
