/*
 * Test driver for kiromenu.exe under Wine (see driver.h).
 */
#include "driver.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A wait that ran out says what did not happen, on the standard error
   stream beside the test's own report. */
static void report(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("driver: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    fflush(stderr);
}

/* Every program started here that may still run, by a handle of our own. */
static std::vector<HANDLE> g_started;

void pause_ms(int ms)
{
    DWORD end = GetTickCount() + (DWORD)ms;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD now = GetTickCount();
        if ((int)(end - now) <= 0)
            break;
        Sleep(ms < 10 ? (DWORD)ms : 10);
    }
}

Program start_program(const std::string &exe, const std::string &args, const char *cwd)
{
    std::string line = "\"" + exe + "\"";
    if (!args.empty())
        line += " " + args;
    return start_program_line(exe, line, cwd);
}

Program start_program_line(const std::string &exe, const std::string &line, const char *cwd)
{
    Program program = { NULL, 0 };
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (CreateProcessA(exe.c_str(), buffer.data(), NULL, NULL, FALSE, 0, NULL, cwd, &si, &pi)) {
        CloseHandle(pi.hThread);
        program.process = pi.hProcess;
        program.pid = pi.dwProcessId;
        /* The handles of programs that have ended are let go. */
        for (size_t i = 0; i < g_started.size();) {
            if (WaitForSingleObject(g_started[i], 0) == WAIT_OBJECT_0) {
                CloseHandle(g_started[i]);
                g_started.erase(g_started.begin() + i);
            } else {
                i++;
            }
        }
        HANDLE own = NULL;
        if (DuplicateHandle(GetCurrentProcess(), pi.hProcess, GetCurrentProcess(), &own, 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
            g_started.push_back(own);
    } else {
        report("could not start %s (error %lu)", exe.c_str(), GetLastError());
    }
    return program;
}

int end_started_programs()
{
    int running = 0;
    for (HANDLE process : g_started) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            running++;
            TerminateProcess(process, 99);
            if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
                report("a program left running did not end within 10 s");
        }
        CloseHandle(process);
    }
    g_started.clear();
    return running;
}

bool is_running(const Program &program)
{
    return program.process && WaitForSingleObject(program.process, 0) == WAIT_TIMEOUT;
}

void kill_program(Program &program)
{
    if (program.process) {
        TerminateProcess(program.process, 99);
        WaitForSingleObject(program.process, 5000);
        CloseHandle(program.process);
        program.process = NULL;
    }
}

int wait_exit(Program &program, int timeout_ms)
{
    if (!program.process)
        return -1;
    DWORD r = WaitForSingleObject(program.process, (DWORD)timeout_ms);
    if (r != WAIT_OBJECT_0) {
        report("process %lu did not end within %d ms; it was ended", program.pid, timeout_ms);
        kill_program(program);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(program.process, &code);
    CloseHandle(program.process);
    program.process = NULL;
    return (int)code;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

static BOOL CALLBACK collect_window(HWND window, LPARAM param)
{
    WindowSearch *search = (WindowSearch *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> top_windows(DWORD pid)
{
    WindowSearch search;
    search.pid = pid;
    EnumWindows(collect_window, (LPARAM)&search);
    return search.found;
}

/* The text of a window of any process; false when its thread did not
   answer within 5 s. Never with SMTO_ABORTIFHUNG: Wine counts a thread as
   hung when it has not asked for a message for five seconds, as the thread
   of a box shown at the end of a long operation has not, until the box's
   message loop starts. */
static bool read_text(HWND window, std::string &text)
{
    char buffer[4096];
    buffer[0] = '\0';
    DWORD_PTR length = 0;
    bool answered = SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, (LPARAM)buffer, SMTO_NORMAL, 5000,
                                        &length) != 0;
    buffer[sizeof buffer - 1] = '\0';
    text = buffer;
    return answered;
}

std::string window_text(HWND window)
{
    std::string text;
    read_text(window, text);
    return text;
}

std::string control_text(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    return control ? window_text(control) : std::string();
}

std::string wait_text(HWND dialog, int id, const std::string &expected, int timeout_ms)
{
    DWORD start = GetTickCount();
    std::string text = control_text(dialog, id);
    while (expected.empty() ? text.empty() : text != expected) {
        if ((int)(GetTickCount() - start) >= timeout_ms) {
            report("control %d still reads \"%s\" after %d ms, not %s%s%s", id, text.c_str(), timeout_ms,
                   expected.empty() ? "any text" : "\"", expected.c_str(), expected.empty() ? "" : "\"");
            break;
        }
        pause_ms(50);
        text = control_text(dialog, id);
    }
    return text;
}

std::string class_name(HWND window)
{
    char name[256];
    if (!GetClassNameA(window, name, sizeof name))
        return std::string();
    return name;
}

bool is_checked(HWND dialog, int id)
{
    DWORD_PTR state = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &state);
    return state == BST_CHECKED;
}

HWND wait_window(DWORD pid, const char *wanted_class, const char *caption, int timeout_ms)
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : top_windows(pid)) {
            if (wanted_class && class_name(window) != wanted_class)
                continue;
            if (caption && window_text(window) != caption)
                continue;
            return window;
        }
        pause_ms(20);
    } while ((int)(GetTickCount() - start) < timeout_ms);
    report("no window of process %lu of class %s and caption %s%s%s within %d ms", pid,
           wanted_class ? wanted_class : "(any)", caption ? "\"" : "", caption ? caption : "(any)",
           caption ? "\"" : "", timeout_ms);
    return NULL;
}

HWND wait_main_menu(DWORD pid, int timeout_ms)
{
    const int START_CHOICE = 1001;   /* labelled by the first paint */
    HWND menu = wait_window(pid, "#32770", "KIRO-skema", timeout_ms);
    if (menu)
        wait_text(menu, START_CHOICE, "");
    return menu;
}

bool wait_idle(HWND window, int timeout_ms)
{
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, (UINT)timeout_ms, &ignored))
        return true;
    report("window %p did not get back to its messages within %d ms", (void *)window, timeout_ms);
    return false;
}

LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, int timeout_ms)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, (UINT)timeout_ms, &result)) {
        report("message 0x%x to window %p not answered within %d ms", message, (void *)window, timeout_ms);
        return 0;
    }
    return (LRESULT)result;
}

bool wait_checked(HWND dialog, int id, int timeout_ms)
{
    DWORD start = GetTickCount();
    while (!is_checked(dialog, id)) {
        if ((int)(GetTickCount() - start) >= timeout_ms) {
            report("control %d not checked within %d ms", id, timeout_ms);
            return false;
        }
        pause_ms(20);
    }
    /* Checked in the middle of the click: the rest of it is handled too. */
    wait_idle(dialog);
    return is_checked(dialog, id);
}

void click(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void press(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void press_key(HWND dialog, int id, UINT virtual_key)
{
    HWND control = GetDlgItem(dialog, id);
    PostMessageA(control, WM_KEYDOWN, virtual_key, 1);
    PostMessageA(control, WM_KEYUP, virtual_key, 0xC0000001);
}

void set_focus(HWND dialog, int id)
{
    PostMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dialog, id), TRUE);
}

bool wait_message_box(DWORD pid, MessageBoxSeen &box, int timeout_ms)
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : top_windows(pid)) {
            if (class_name(window) != "#32770")
                continue;
            HWND text = GetDlgItem(window, 0xFFFF);
            if (!text)
                continue;
            box.window = window;
            if (!read_text(window, box.caption) || !read_text(text, box.text))
                continue;   /* looked at again */
            box.owner = GetWindow(window, GW_OWNER);
            HWND icon_control = GetDlgItem(window, 0x440);
            if (!icon_control)
                icon_control = GetDlgItem(window, 0x14);
            DWORD_PTR icon = 0;
            if (icon_control)
                SendMessageTimeoutA(icon_control, STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &icon);
            box.icon = (HICON)icon;
            return true;
        }
        pause_ms(20);
    } while ((int)(GetTickCount() - start) < timeout_ms);
    report("no message box of process %lu within %d ms", pid, timeout_ms);
    return false;
}

void answer(const MessageBoxSeen &box, int button)
{
    HWND control = GetDlgItem(box.window, button);
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)control);
    DWORD start = GetTickCount();
    while (IsWindow(box.window)) {
        if (GetTickCount() - start >= 10000) {
            report("the box \"%s\" was still up 10 s after button %d", box.text.c_str(), button);
            break;
        }
        pause_ms(20);
    }
}

/* 32 x 32 pixels of a memory bitmap; with icon, the icon drawn on a
   background of colour background; otherwise the screen at (x, y). */
static std::vector<DWORD> pixels_32(HICON icon, COLORREF background, int x, int y)
{
    std::vector<DWORD> pixels(32 * 32, 0);
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO bi;
    ZeroMemory(&bi, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 32;
    bi.bmiHeader.biHeight = -32;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    if (icon) {
        HBRUSH brush = CreateSolidBrush(background);
        RECT r = { 0, 0, 32, 32 };
        FillRect(dc, &r, brush);
        DeleteObject(brush);
        DrawIconEx(dc, 0, 0, icon, 32, 32, 0, NULL, DI_NORMAL);
    } else {
        BitBlt(dc, 0, 0, 32, 32, screen, x, y, SRCCOPY);
    }
    GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
    for (DWORD &p : pixels)
        p &= 0x00FFFFFF;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
    return pixels;
}

/* Reading the screen. Wine's order of windows and the X server's may
   differ: a window another test maps is put on top by the X server even
   where Wine keeps a topmost box above it. So the X server itself is
   asked which window shows at the icon. */

/* The X window that shows a top-level window (Wine keeps its id as a
   property of the window); 0 when there is none. */
static unsigned long x_window(HWND window)
{
    return (unsigned long)(ULONG_PTR)GetPropA(GetAncestor(window, GA_ROOT), "__wine_x11_whole_window");
}

/* Whether X window xid is the one shown at the corners and the centre of
   area, raised to the top first when asked (Xlib through Python). */
static bool x_on_top(unsigned long xid, const RECT &area, bool raise)
{
    static const char *const script =
        "import ctypes, sys\n"
        "c = ctypes\n"
        "x = c.CDLL('libX11.so.6')\n"
        "x.XOpenDisplay.restype = c.c_void_p\n"
        "x.XOpenDisplay.argtypes = [c.c_char_p]\n"
        "x.XDefaultRootWindow.restype = c.c_ulong\n"
        "x.XDefaultRootWindow.argtypes = [c.c_void_p]\n"
        "x.XRaiseWindow.argtypes = [c.c_void_p, c.c_ulong]\n"
        "x.XSync.argtypes = [c.c_void_p, c.c_int]\n"
        "x.XTranslateCoordinates.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong, c.c_int, c.c_int,\n"
        "    c.POINTER(c.c_int), c.POINTER(c.c_int), c.POINTER(c.c_ulong)]\n"
        "d = x.XOpenDisplay(None)\n"
        "if not d:\n"
        "    sys.exit(2)\n"
        "root = x.XDefaultRootWindow(d)\n"
        "w = int(sys.argv[1])\n"
        "if sys.argv[2] == '1':\n"
        "    x.XRaiseWindow(d, w)\n"
        "    x.XSync(d, 0)\n"
        "p = [int(v) for v in sys.argv[3:]]\n"
        "tx, ty, child = c.c_int(), c.c_int(), c.c_ulong()\n"
        "for i in range(0, len(p), 2):\n"
        "    x.XTranslateCoordinates(d, root, root, p[i], p[i + 1], c.byref(tx), c.byref(ty),\n"
        "                            c.byref(child))\n"
        "    if child.value != w:\n"
        "        sys.exit(1)\n";
    LONG points[5][2] = { { area.left, area.top }, { area.right - 1, area.top },
                          { area.left, area.bottom - 1 }, { area.right - 1, area.bottom - 1 },
                          { (area.left + area.right) / 2, (area.top + area.bottom) / 2 } };
    std::string command = std::string("/usr/bin/python3 -c \"") + script + "\" " + std::to_string(xid) +
                          (raise ? " 1" : " 0");
    for (auto &point : points)
        command += " " + std::to_string((long)point[0]) + " " + std::to_string((long)point[1]);
    return run_unix(command) == 0;
}

/* A visible window lies above window in Wine's order, over area. */
static bool covered_in_wine(HWND window, const RECT &area)
{
    HWND top = GetAncestor(window, GA_ROOT);
    for (HWND above = GetWindow(top, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV)) {
        RECT r, common;
        if (IsWindowVisible(above) && GetWindowRect(above, &r) && IntersectRect(&common, &r, &area))
            return true;
    }
    return false;
}

/* Raises window above all others, in Wine's order (posted, so that a busy
   or hung program never holds the reader) and in the X server's; true when
   it is then the one shown over area. */
static bool bring_to_top(HWND window, const RECT &area)
{
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    unsigned long xid = x_window(window);
    return xid ? x_on_top(xid, area, true) : !covered_in_wine(window, area);
}

static bool still_on_top(HWND window, const RECT &area)
{
    unsigned long xid = x_window(window);
    return xid ? x_on_top(xid, area, false) : !covered_in_wine(window, area);
}

/* One reader of the screen at a time in the whole prefix: a mutex of the
   same name in every process. */
static HANDLE lock_screen()
{
    HANDLE lock = CreateMutexA(NULL, FALSE, "kiro-test-screen-readers");
    DWORD r = lock ? WaitForSingleObject(lock, 60000) : WAIT_FAILED;
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED)
        return lock;
    report("the screen stayed locked by another test for 60 s");
    if (lock)
        CloseHandle(lock);
    return NULL;
}

static void unlock_screen(HANDLE lock)
{
    if (lock) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
}

UINT message_box_icon(const MessageBoxSeen &box)
{
    /* Icon handles of another process cannot be drawn here, and ours differ
       from theirs: the icon is read off the screen and compared with each
       standard icon drawn on the same background. */
    HWND control = GetDlgItem(box.window, 0x440);
    if (!control)
        control = GetDlgItem(box.window, 0x14);
    DWORD_PTR icon = 0;
    if (control)
        SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &icon);
    if (!control || !icon)
        return 0;
    RECT r;
    GetWindowRect(control, &r);
    struct { LPCSTR id; UINT style; } icons[] = {
        { IDI_HAND, MB_ICONERROR }, { IDI_EXCLAMATION, MB_ICONWARNING },
        { IDI_ASTERISK, MB_ICONINFORMATION }, { IDI_QUESTION, MB_ICONQUESTION },
    };
    HANDLE lock = lock_screen();
    bool was_topmost = (GetWindowLongA(box.window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    /* A box that has just appeared, or just come to the top, may not have
       drawn its icon yet: look again for a while before saying it shows
       none. A reading while another window showed over the icon counts for
       nothing. */
    UINT found = 0;
    DWORD start = GetTickCount();
    while (!found && GetTickCount() - start < 15000 && IsWindow(box.window)) {
        if (!bring_to_top(box.window, r)) {
            pause_ms(50);
            continue;
        }
        std::vector<DWORD> seen;
        for (int attempt = 0; attempt < 10; attempt++) {
            seen = pixels_32(NULL, 0, r.left, r.top);
            pause_ms(30);
            if (seen == pixels_32(NULL, 0, r.left, r.top))
                break;
        }
        if (!still_on_top(box.window, r))
            continue;
        DWORD corner = seen[0];
        COLORREF background = RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF);
        for (auto &i : icons)
            if (pixels_32(LoadIconA(NULL, i.id), background, 0, 0) == seen)
                found = i.style;
        if (!found)
            pause_ms(50);
    }
    if (!was_topmost && IsWindow(box.window))
        SetWindowPos(box.window, HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    unlock_screen(lock);
    if (!found)
        report("the icon of the box \"%s\" matched no standard icon within 15 s", box.text.c_str());
    return found;
}

static BOOL CALLBACK collect_button(HWND window, LPARAM param)
{
    std::vector<int> *ids = (std::vector<int> *)param;
    char name[32];
    if (GetClassNameA(window, name, sizeof name) && _stricmp(name, "Button") == 0 && IsWindowVisible(window))
        ids->push_back(GetDlgCtrlID(window));
    return TRUE;
}

std::vector<int> message_box_buttons(const MessageBoxSeen &box)
{
    std::vector<int> ids;
    EnumChildWindows(box.window, collect_button, (LPARAM)&ids);
    return ids;
}

/* Wine's own conversions between Windows and Unix paths. */
typedef char *(CDECL *UnixNameFn)(const WCHAR *);

std::string unix_path(const std::string &windows_path)
{
    UnixNameFn to_unix = (UnixNameFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                            "wine_get_unix_file_name");
    if (to_unix) {
        WCHAR wide[MAX_PATH * 2];
        if (MultiByteToWideChar(CP_ACP, 0, windows_path.c_str(), -1, wide, MAX_PATH * 2)) {
            char *name = to_unix(wide);
            if (name) {
                std::string result = name;
                HeapFree(GetProcessHeap(), 0, name);
                return result;
            }
        }
    }
    std::string path = windows_path;
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
        path = path.substr(2);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    return path;
}

std::string windows_path(const std::string &unix_path)
{
    /* Always through Z: (the root file system), never through the drive
       letter Wine would pick: the tests redefine drives while they run, so
       a path through a drive letter may show another disk a moment later. */
    std::string path = "Z:" + unix_path;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

int run_unix(const std::string &command, int timeout_ms)
{
    /* Wine starts a Unix program without a process handle to wait on, so
       the command leaves its status in a marker file that we wait for. */
    static int serial = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char marker[MAX_PATH + 64];
    snprintf(marker, sizeof marker, "%skiro-unix-%lu-%d.status", temp, GetCurrentProcessId(), ++serial);
    DeleteFileA(marker);
    /* The command goes into a script file: Wine splits a command line by
       Windows rules, which know nothing of the shell's quoting. */
    std::string marker_unix = unix_path(marker);
    std::string script = std::string(marker) + ".sh";
    FILE *f = fopen(script.c_str(), "wb");
    if (!f)
        return -1;
    fprintf(f, "%s\nstatus=$?\necho $status > '%s.tmp'\nmv '%s.tmp' '%s'\n", command.c_str(),
            marker_unix.c_str(), marker_unix.c_str(), marker_unix.c_str());
    fclose(f);
    std::string line = "/bin/sh " + unix_path(script);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessA(NULL, buffer.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return -1;
    if (pi.hThread)
        CloseHandle(pi.hThread);
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < timeout_ms) {
        FILE *m = fopen(marker, "r");
        if (m) {
            int status = -1;
            if (fscanf(m, "%d", &status) != 1)
                status = -1;
            fclose(m);
            DeleteFileA(marker);
            DeleteFileA(script.c_str());
            return status;
        }
        pause_ms(10);
    }
    report("the command did not end within %d ms: %s", timeout_ms, command.c_str());
    return -1;
}

void end_unix_process(const std::string &unix_pid_file)
{
    std::string quoted = "'" + unix_pid_file + "'";
    run_unix("test -s " + quoted + " && kill $(cat " + quoted + ") 2>/dev/null; rm -f " + quoted);
}

bool screenshot(const std::string &png_windows_path)
{
    std::string target = unix_path(png_windows_path);
    return run_unix("import -window root '" + target + "'", 30000) == 0;
}

std::string screenshot_path(const char *name)
{
    const char *build = getenv("KIRO_BUILD");
    std::string dir = build ? windows_path(std::string(build) + "/screenshots") : std::string("screenshots");
    CreateDirectoryA(dir.c_str(), NULL);
    return dir + "\\" + name;
}
