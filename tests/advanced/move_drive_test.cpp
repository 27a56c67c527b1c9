/*
 * The drive list of the Advanced dialog, called directly on a combo box of
 * its own: the entries, the move drive matched ignoring case and turned
 * upper case, and the move-drive validation with a changed, an unchanged
 * and a missing selection.
 */
#include <gtest/gtest.h>
#include "advanced/advanced_dialog.h"
#include "support/settings.h"
#include "support/drives.h"
#include "test_support.h"
#include "resource.h"

#include <string.h>
#include <string>

namespace {

struct DriveCombo {
    HWND parent;
    HWND combo;
    DriveCombo()
    {
        parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
        combo = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | CBS_DROPDOWN, 0, 0, 200, 150, parent,
                                (HMENU)(INT_PTR)IDC_DRIVE_LIST, NULL, NULL);
    }
    ~DriveCombo() { DestroyWindow(parent); }
    int index_of(const char *prefix)
    {
        int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; i++) {
            char text[600];
            SendMessageA(combo, CB_GETLBTEXT, i, (LPARAM)text);
            if (strncmp(text, prefix, strlen(prefix)) == 0)
                return i;
        }
        return -1;
    }
};

}  // namespace

TEST(MoveDrive, EntryText)
{
    char text[64];
    drive_entry_text(text, sizeof text, "C:", "Lokal disk");
    EXPECT_STREQ("(C:) Lokal disk", text);
    EXPECT_STREQ("&Åbn KIRO-skema", lock_choice_label(true));
    EXPECT_STREQ("L&ås KIRO-skema", lock_choice_label(false));
}

TEST(MoveDrive, ConfiguredDriveIsPreselectedAndKeptUpperCase)
{
    release_drive_list(&g_drive_list);
    strcpy(g_settings.move_drive, "c:");
    DriveCombo c;
    fill_drive_combo(c.combo);
    EXPECT_EQ(1, g_drive_list.built);
    EXPECT_STREQ("C:", g_settings.move_drive);
    EXPECT_STREQ("C:", g_drive_list.selected_drive);
    int index = c.index_of("(C:) ");
    ASSERT_NE(-1, index);
    EXPECT_EQ(index, g_drive_list.selected_index);
    EXPECT_EQ(index, (int)SendMessageA(c.combo, CB_GETCURSEL, 0, 0));

    ScriptedBoxes boxes;
    EXPECT_FALSE(validate_move_drive(c.parent));   // the same drive: no change
    int z = c.index_of("(Z:) ");
    ASSERT_NE(-1, z);
    SendMessageA(c.combo, CB_SETCURSEL, z, 0);
    EXPECT_TRUE(validate_move_drive(c.parent));
    EXPECT_STREQ("Z:", g_settings.move_drive);
    EXPECT_STREQ("Z:", g_drive_list.selected_drive);
    EXPECT_EQ(z, g_drive_list.selected_index);
    EXPECT_TRUE(boxes.shown.empty());
    release_drive_list(&g_drive_list);
}

TEST(MoveDrive, NoSelectionCountsAsAnInvalidDrive)
{
    release_drive_list(&g_drive_list);
    g_drive_list.built = 1;   // built, and found nothing
    strcpy(g_settings.move_drive, "E:");
    DriveCombo c;
    fill_drive_combo(c.combo);
    ScriptedBoxes boxes;
    EXPECT_FALSE(validate_move_drive(c.parent));
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Flytdrevet er ikke et gyldigt drev bogstav!", boxes.shown[0].text);
    EXPECT_EQ("Flytdrev", boxes.shown[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONWARNING), boxes.shown[0].style);
    EXPECT_EQ(nullptr, boxes.shown[0].owner);
    EXPECT_STREQ("E:", g_settings.move_drive);
    release_drive_list(&g_drive_list);
}
