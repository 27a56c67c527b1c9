/*
 * The resources as the program loads them: the three dialog templates item by
 * item (ids, classes, texts, positions, sizes, styles, fonts), the icons, the
 * Danish version resource and the manifest, which is checked as the loader
 * reads it into the process's activation context (this executable carries
 * the same manifest as kiromenu.exe).
 */
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include "resource.h"

#include <string>
#include <vector>

#ifndef ACTCTX_PROCESS_DEFAULT
#define ACTCTX_PROCESS_DEFAULT ((HANDLE)NULL)   /* the manifest of the executable */
#endif

struct Item {
    int id;
    std::string klass;   /* class name, or "#0080" style atoms turned into names */
    std::string text;
    int x, y, cx, cy;
    DWORD style;
};

struct Template {
    DWORD style;
    int x, y, cx, cy;
    std::string caption;
    int point_size;
    std::string font;
    std::vector<Item> items;
};

static std::string wide_to_1252(const WCHAR *w, const WCHAR **end)
{
    int n = lstrlenW(w);
    std::string s(n * 2 + 1, '\0');
    int m = WideCharToMultiByte(1252, 0, w, n, &s[0], (int)s.size(), NULL, NULL);
    s.resize(m);
    *end = w + n + 1;
    return s;
}

static const WCHAR *align4(const WCHAR *p)
{
    return (const WCHAR *)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
}

static std::string sz_or_ord(const WCHAR **p)
{
    const WCHAR *w = *p;
    if (w[0] == 0) { *p = w + 1; return ""; }
    if (w[0] == 0xFFFF) {
        static const char *atoms[] = { "Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox" };
        int atom = w[1];
        *p = w + 2;
        return atom >= 0x80 && atom <= 0x85 ? atoms[atom - 0x80] : "#" + std::to_string(atom);
    }
    return wide_to_1252(w, p);
}

static Template load_template(int id)
{
    Template t = {};
    HRSRC r = FindResourceA(NULL, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
    if (!r)
        return t;
    const DLGTEMPLATE *d = (const DLGTEMPLATE *)LockResource(LoadResource(NULL, r));
    t.style = d->style;
    t.x = d->x; t.y = d->y; t.cx = d->cx; t.cy = d->cy;
    const WCHAR *p = (const WCHAR *)(d + 1);
    sz_or_ord(&p);                 /* menu */
    sz_or_ord(&p);                 /* class */
    t.caption = wide_to_1252(p, &p);
    if (d->style & DS_SETFONT) {
        t.point_size = *p++;
        t.font = wide_to_1252(p, &p);
    }
    for (int i = 0; i < d->cdit; i++) {
        p = align4(p);
        const DLGITEMTEMPLATE *it = (const DLGITEMTEMPLATE *)p;
        Item item;
        item.id = it->id;
        item.x = it->x; item.y = it->y; item.cx = it->cx; item.cy = it->cy;
        item.style = it->style;
        p = (const WCHAR *)(it + 1);
        item.klass = sz_or_ord(&p);
        item.text = sz_or_ord(&p);
        WORD extra = *p++;
        p = (const WCHAR *)((const BYTE *)p + extra);
        t.items.push_back(item);
    }
    return t;
}

static void expect_item(const Item &it, int id, const char *klass, const char *text, int x, int y, int cx,
                        int cy, DWORD must, DWORD must_not = 0)
{
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(id, it.id);
    EXPECT_STRCASEEQ(klass, it.klass.c_str());
    EXPECT_EQ(text, it.text);
    EXPECT_EQ(x, it.x); EXPECT_EQ(y, it.y); EXPECT_EQ(cx, it.cx); EXPECT_EQ(cy, it.cy);
    EXPECT_EQ(must, it.style & must);
    EXPECT_EQ(0u, it.style & must_not);
}

TEST(Resources, MainMenuDialog102)
{
    Template t = load_template(IDD_MAIN_MENU);
    ASSERT_EQ(7u, t.items.size());
    EXPECT_EQ("KIRO-skema hovedmenu", t.caption);
    EXPECT_EQ(10, t.point_size);
    EXPECT_EQ("MS Sans Serif", t.font);
    EXPECT_EQ(140, t.cx); EXPECT_EQ(137, t.cy);
    EXPECT_EQ((DWORD)(WS_CAPTION | DS_MODALFRAME), t.style & (WS_CAPTION | DS_MODALFRAME));
    EXPECT_EQ(0u, t.style & WS_SYSMENU);
    const DWORD radio = BS_AUTORADIOBUTTON | WS_VISIBLE;
    expect_item(t.items[0], 1001, "Button", "", 12, 47, 115, 10, radio, WS_TABSTOP | WS_GROUP);
    expect_item(t.items[1], 1009, "Button", "", 12, 65, 115, 10, radio, WS_TABSTOP | WS_GROUP);
    expect_item(t.items[2], 1002, "Button", "", 12, 83, 116, 10, radio, WS_TABSTOP | WS_GROUP);
    expect_item(t.items[3], 1003, "Button", "A&vanceret", 93, 101, 38, 11, WS_VISIBLE | WS_TABSTOP, WS_GROUP);
    expect_item(t.items[4], 1004, "Button", "&OK", 28, 121, 38, 12, BS_DEFPUSHBUTTON | WS_VISIBLE | WS_TABSTOP);
    expect_item(t.items[5], 1005, "Button", "&Luk", 78, 121, 38, 12, WS_VISIBLE | WS_TABSTOP, WS_GROUP);
    expect_item(t.items[6], 1018, "Button", "", 3, 37, 135, 81, BS_GROUPBOX | WS_VISIBLE, WS_GROUP);
    EXPECT_EQ((DWORD)BS_PUSHBUTTON, t.items[3].style & 0x0F);
    EXPECT_EQ((DWORD)BS_PUSHBUTTON, t.items[5].style & 0x0F);
}

TEST(Resources, ProgressDialog103)
{
    Template t = load_template(IDD_PROGRESS);
    ASSERT_EQ(4u, t.items.size());
    EXPECT_EQ("", t.caption);
    EXPECT_EQ(8, t.point_size);
    EXPECT_EQ("MS Sans Serif", t.font);
    EXPECT_EQ(0, t.x); EXPECT_EQ(40, t.y); EXPECT_EQ(231, t.cx); EXPECT_EQ(79, t.cy);
    const DWORD frame = WS_POPUP | WS_CAPTION | WS_BORDER | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(frame, t.style & frame);
    expect_item(t.items[0], 1014, "Static", "", 19, 7, 191, 14,
                SS_CENTER | SS_CENTERIMAGE | WS_BORDER | WS_VISIBLE);
    expect_item(t.items[1], 1013, "Static", "", 23, 29, 182, 12, WS_VISIBLE, WS_BORDER);
    EXPECT_EQ((DWORD)SS_LEFT, t.items[1].style & SS_TYPEMASK);
    expect_item(t.items[2], 1016, PROGRESS_CLASSA, "Progress1", 20, 61, 189, 9, PBS_SMOOTH | WS_BORDER | WS_VISIBLE);
    expect_item(t.items[3], 1017, PROGRESS_CLASSA, "Progress2", 20, 46, 189, 9, PBS_SMOOTH | WS_BORDER | WS_VISIBLE);
}

TEST(Resources, AdvancedDialog105)
{
    Template t = load_template(IDD_ADVANCED);
    ASSERT_EQ(9u, t.items.size());
    EXPECT_EQ("Avanceret", t.caption);
    EXPECT_EQ(8, t.point_size);
    EXPECT_EQ("MS Sans Serif", t.font);
    EXPECT_EQ((DWORD)(WS_CAPTION | DS_MODALFRAME), t.style & (WS_CAPTION | DS_MODALFRAME));
    const DWORD radio = BS_AUTORADIOBUTTON | WS_VISIBLE;
    expect_item(t.items[0], 1024, "Button", "", 6, 3, 184, 138, BS_GROUPBOX | WS_VISIBLE);
    expect_item(t.items[1], 1007, "Button", "&Send data til support", 23, 21, 81, 12, radio | WS_GROUP);
    expect_item(t.items[2], 1020, "Button", "S&let data", 23, 39, 45, 12, radio, WS_GROUP);
    expect_item(t.items[3], 1010, "Button", "", 23, 57, 82, 12, radio, WS_GROUP);
    expect_item(t.items[4], 1015, "Button", "Sl&et l\xE5sefil 'Kiro.lck'", 23, 75, 75, 12, radio, WS_GROUP);
    expect_item(t.items[5], 1022, "Button", "Flyt&drev", 23, 93, 38, 12, radio, WS_GROUP);
    expect_item(t.items[6], 1023, "ComboBox", "", 67, 95, 105, 86,
                CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE);
    expect_item(t.items[7], 1011, "Button", "OK", 38, 119, 50, 14, BS_DEFPUSHBUTTON | WS_VISIBLE);
    expect_item(t.items[8], 1012, "Button", "&Fortryd", 104, 119, 50, 14, WS_VISIBLE);
}

TEST(Resources, IconsVersionAndManifest)
{
    EXPECT_TRUE(LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_KIRO)));
    EXPECT_TRUE(LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_SUPERKIRO)));
    EXPECT_TRUE(FindResourceExA(NULL, (LPCSTR)RT_VERSION, MAKEINTRESOURCEA(1),
                                MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT)));
    HRSRC m = FindResourceA(NULL, MAKEINTRESOURCEA(1), (LPCSTR)RT_MANIFEST);
    ASSERT_TRUE(m);
    std::string manifest((const char *)LockResource(LoadResource(NULL, m)), SizeofResource(NULL, m));
    EXPECT_NE(std::string::npos, manifest.find("requestedExecutionLevel level=\"asInvoker\""));
}

/* A setting of the manifest's windowsSettings, read back from the process's
 * activation context; "" when the loader found none. */
static std::wstring manifest_setting(const WCHAR *name_space, const WCHAR *name)
{
    typedef BOOL(WINAPI * query_settings)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T *);
    query_settings query =
        (query_settings)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW");
    WCHAR value[64] = L"";
    SIZE_T written = 0;
    if (!query || !query(0, ACTCTX_PROCESS_DEFAULT, name_space, name, value, 64, &written))
        return L"";
    return value;
}

TEST(Resources, ManifestAsTheLoaderReadsIt)
{
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    ASSERT_TRUE(QueryActCtxW(0, ACTCTX_PROCESS_DEFAULT, NULL, RunlevelInformationInActivationContext, &level,
                             sizeof level, NULL));
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, level.RunLevel);
    EXPECT_EQ(0u, level.UiAccess);

    /* Windows 7 and Windows 10/11, nothing else. The records are laid out as
     * Windows 10 and Wine give them (with the maximum version tested), which
     * the MinGW headers do not know yet. */
    struct { DWORD count; struct { GUID id; DWORD type; ULONGLONG max_version_tested; } os[4]; } compat = {};
    ASSERT_TRUE(QueryActCtxW(0, ACTCTX_PROCESS_DEFAULT, NULL, CompatibilityInformationInActivationContext, &compat,
                             sizeof compat, NULL));
    static const GUID windows_7 = { 0x35138b9a, 0x5d96, 0x4fbd, { 0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a } };
    static const GUID windows_10 = { 0x8e0f7a12, 0xbfb3, 0x4fe8, { 0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a } };
    EXPECT_EQ(2u, compat.count);
    EXPECT_TRUE(IsEqualGUID(windows_7, compat.os[0].id));
    EXPECT_TRUE(IsEqualGUID(windows_10, compat.os[1].id));
    EXPECT_EQ((DWORD)ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS, compat.os[0].type);
    EXPECT_EQ((DWORD)ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS, compat.os[1].type);

    EXPECT_TRUE(manifest_setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware") == L"false");
    EXPECT_TRUE(manifest_setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness") ==
                L"unaware");

    /* The classic controls: the manifest names no assembly to load beside
     * the program's own, so no Common Controls 6 and its themed look. */
    union { ACTIVATION_CONTEXT_DETAILED_INFORMATION info; BYTE bytes[4096]; } detail = {};
    ASSERT_TRUE(QueryActCtxW(0, ACTCTX_PROCESS_DEFAULT, NULL, ActivationContextDetailedInformation, &detail,
                             sizeof detail, NULL));
    EXPECT_EQ(1u, detail.info.ulAssemblyCount);
}
