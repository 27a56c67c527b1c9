/*
 * Deleting the schedule data, called directly: the chain of questions in
 * each of its situations, the count file, which files go and which stay, a
 * table file that cannot be deleted, and the delete-data dialog's bar and
 * final message.
 */
#include <gtest/gtest.h>
#include "advanced/delete_data.h"
#include "schedule_files/table_list.h"
#include "support/settings.h"
#include "support/message_box.h"
#include "test_support.h"
#include "resource.h"

#include <commctrl.h>
#include <stdlib.h>
#include <string>
#include <vector>

static const char *WORK_FILES[] = { "skemabeg.dat", "timoak.dat", "udplatim.dat", "hontim.dat",
                                    "CntLokaleBeg.dat" };

/* A data directory in g_settings with every table file, the work files and
   the configuration file. */
struct DataDir {
    std::string dir;   /* with trailing backslash */
    explicit DataDir(const char *name, int installation = 7)
    {
        dir = make_scratch_dir(name) + "\\";
        make_dirs(dir + "data");
        make_dirs(dir + "ini");
        write_file(dir + "ini\\kiro.ini", "[global]\r\ninsnr=7\r\n");
        for (int i = 0; i < TABLE_COUNT; i++)
            write_file(table_file(g_table_list[i].name), "x");
        for (const char *w : WORK_FILES)
            write_file(dir + "data\\" + w, "0, 0\n");
        copy_text_into(g_settings.data_dir, dir);
        g_settings.installation = installation;
    }
    std::string table_file(const char *name) const { return dir + "data\\" + name + ".DAT"; }
    void counts(const char *text) const { write_file(dir + "data\\CntLokaleBeg.dat", text); }
    void lock_file() const { write_file(dir + "ini\\kiro.lck", ""); }
    void export_file() const { write_file(dir + "data\\exp.dat.gz", "gz"); }
    int tables_left() const
    {
        int n = 0;
        for (int i = 0; i < TABLE_COUNT; i++)
            n += file_exists(table_file(g_table_list[i].name));
        return n;
    }
    static void copy_text_into(char *out, const std::string &text)
    {
        snprintf(out, KIRO_PATH_SIZE, "%s", text.c_str());
    }
};

static const std::string ALL_DATA_HEAD = "Dette vil slette ALLE skemadata på KIRO-installation nr. 7 !!!\n\n";
static const std::string FINAL = "Er du HELT sikker du vil slette skemadata?";

static void expect_warning_boxes(const ScriptedBoxes &boxes, HWND owner)
{
    for (const ShownBox &b : boxes.shown) {
        EXPECT_EQ(owner, b.owner);
        EXPECT_EQ("Advarsel!", b.caption);
        EXPECT_EQ((UINT)(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2), b.style) << b.text;
    }
}

TEST(DeleteConfirmation, ZeroCountsAskTwoQuestionsWithoutTheEasySentence)
{
    DataDir data("confirm_zero");
    ScriptedBoxes boxes({ IDYES, IDYES });
    HWND owner = (HWND)0x1234;
    EXPECT_TRUE(confirm_delete_data(owner));
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ(ALL_DATA_HEAD + "\nEr du sikker på du vil fortsætte?", boxes.shown[0].text);
    EXPECT_EQ(FINAL, boxes.shown[1].text);
    expect_warning_boxes(boxes, owner);
}

TEST(DeleteConfirmation, UndeliveredCountsAreNamed)
{
    DataDir data("confirm_counts");
    data.counts("12,   3\r\n");
    ScriptedBoxes boxes({ IDYES, IDNO });
    EXPECT_FALSE(confirm_delete_data(NULL));
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ(ALL_DATA_HEAD +
                  "Men der ligger 12 skemabegivenheder og 3 posteringer, som ikke er afleveret til EASY. "
                  "Disse vil gå tabt!\n\nEr du sikker på du vil fortsætte?",
              boxes.shown[0].text);

    data.counts("9");
    ScriptedBoxes one({ IDNO });
    EXPECT_FALSE(confirm_delete_data(NULL));
    ASSERT_EQ(1u, one.shown.size());
    EXPECT_NE(std::string::npos, one.shown[0].text.find("ligger 9 skemabegivenheder og 0 posteringer"));
}

TEST(DeleteConfirmation, MissingOrUnreadableCountFileCountsAsZero)
{
    DataDir data("confirm_nocount");
    unsigned long events = 5, postings = 5;
    EXPECT_EQ(-1, read_undelivered_counts((data.dir + "data\\none.dat").c_str(), &events, &postings));
    EXPECT_EQ(0ul, events);
    EXPECT_EQ(0ul, postings);
    data.counts("abc");
    EXPECT_EQ(-1, read_undelivered_counts((data.dir + "data\\CntLokaleBeg.dat").c_str(), &events, &postings));
    data.counts("7, 8 more");
    EXPECT_EQ(0, read_undelivered_counts((data.dir + "data\\CntLokaleBeg.dat").c_str(), &events, &postings));
    EXPECT_EQ(7ul, events);
    EXPECT_EQ(8ul, postings);
}

TEST(DeleteConfirmation, LockFileYesWithoutExportFileSkipsTheAllDataWarning)
{
    DataDir data("confirm_lock");
    data.lock_file();
    ScriptedBoxes boxes({ IDYES, IDYES });
    EXPECT_TRUE(confirm_delete_data(NULL));
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ("Bemærk at data'ene tilhørende installation nr. 7 er i brug !!!\n\n"
              "Er du sikker på du vil slette data?",
              boxes.shown[0].text);
    EXPECT_EQ(FINAL, boxes.shown[1].text);
}

TEST(DeleteConfirmation, ExportFileNoOverridesTheLockFileYes)
{
    DataDir data("confirm_export");
    data.lock_file();
    data.export_file();
    ScriptedBoxes boxes({ IDYES, IDNO });
    EXPECT_FALSE(confirm_delete_data(NULL));
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ("Bemærk at der er lavet og SENDT en eksportfil !!!\n\nEr du sikker på du vil slette data?",
              boxes.shown[1].text);
}

TEST(DeleteConfirmation, AnyNoAnswersNo)
{
    DataDir data("confirm_no");
    data.lock_file();
    data.export_file();
    for (int no_at = 0; no_at < 3; no_at++) {
        std::vector<int> answers = { IDYES, IDYES, IDYES };
        answers[no_at] = IDNO;
        ScriptedBoxes boxes(answers);
        EXPECT_FALSE(confirm_delete_data(NULL)) << no_at;
        EXPECT_EQ((size_t)no_at + 1, boxes.shown.size());
    }
    ScriptedBoxes yes({ IDYES, IDYES, IDYES });
    EXPECT_TRUE(confirm_delete_data(NULL));
    EXPECT_EQ(3u, yes.shown.size());
    // a read-only lock file asks nothing about the lock
    SetFileAttributesA((data.dir + "ini\\kiro.lck").c_str(), FILE_ATTRIBUTE_READONLY);
    ScriptedBoxes readonly({ IDYES, IDYES });
    EXPECT_TRUE(confirm_delete_data(NULL));
    ASSERT_EQ(2u, readonly.shown.size());
    EXPECT_NE(std::string::npos, readonly.shown[0].text.find("eksportfil"));
}

TEST(DeleteFiles, TablesWithoutKeepFlagAndWorkFilesGoTheRestStays)
{
    DataDir data("delete_files");
    data.export_file();
    write_file(data.dir + "data\\other.txt", "stays");
    TableBuffer *buffer = g_table_list[1].buffer;
    buffer->field[0] = malloc(10);
    buffer->field[9] = malloc(10);
    buffer->field[5] = (void *)1;

    DeleteOutcome outcome;
    delete_schedule_files(NULL, g_settings.data_dir, &outcome);
    EXPECT_EQ(0, outcome.left);
    EXPECT_EQ(79, outcome.deleted);
    EXPECT_EQ(8, data.tables_left());
    for (int i = 74; i < TABLE_COUNT; i++)
        EXPECT_TRUE(file_exists(data.table_file(g_table_list[i].name))) << g_table_list[i].name;
    for (const char *w : WORK_FILES)
        EXPECT_FALSE(file_exists(data.dir + "data\\" + w)) << w;
    EXPECT_TRUE(file_exists(data.dir + "ini\\kiro.ini"));
    EXPECT_TRUE(file_exists(data.dir + "data\\exp.dat.gz"));
    EXPECT_TRUE(file_exists(data.dir + "data\\other.txt"));
    for (int i = 0; i < TABLE_BUFFER_FIELDS; i++)
        EXPECT_EQ(nullptr, buffer->field[i]);

    // again, with nothing left to delete: missing files are no failure
    delete_schedule_files(NULL, g_settings.data_dir, &outcome);
    EXPECT_EQ(0, outcome.left);
    EXPECT_EQ(0, outcome.deleted);
}

TEST(DeleteFiles, FilesThatCannotBeDeletedAreNamed)
{
    DataDir data("delete_held");
    HANDLE held = CreateFileA(data.table_file("loka").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    SetFileAttributesA(data.table_file("akti").c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteOutcome outcome;
    delete_schedule_files(NULL, g_settings.data_dir, &outcome);
    CloseHandle(held);
    EXPECT_EQ(2, outcome.left);
    EXPECT_EQ(10, data.tables_left());
    EXPECT_STREQ("loka.DAT", outcome.left_names[0]);
    EXPECT_STREQ("akti.DAT", outcome.left_names[1]);
    char text[800];
    files_left_text(text, sizeof text, &outcome);
    EXPECT_NE(nullptr, strstr(text, "Disse 2 filer kunne ikke slettes"));
    EXPECT_NE(nullptr, strstr(text, "   loka.DAT\n   akti.DAT\n"));

    DeleteOutcome many = {};
    many.left = 8;
    for (int i = 0; i < DELETE_LEFT_NAMED; i++)
        snprintf(many.left_names[i], sizeof many.left_names[i], "t%d.DAT", i);
    files_left_text(text, sizeof text, &many);
    EXPECT_NE(nullptr, strstr(text, "   t4.DAT\n   og 3 flere\n"));
    EXPECT_EQ(nullptr, strstr(text, "t5.DAT"));
}

/* The dialog itself: the bar and the message at the moment the final box
   shows, while the dialog still exists. */
struct FinalBox {
    std::string text, caption;
    UINT style = 0;
    int position = -1, upper = -1;
    bool file_bar_visible = true;
    std::string caption_of_dialog, status;
};
static FinalBox g_final;

static int record_final_box(HWND owner, const char *text, const char *caption, UINT style)
{
    g_final.text = text;
    g_final.caption = caption;
    g_final.style = style;
    g_final.position = (int)SendDlgItemMessageA(owner, IDC_OVERALL_BAR, PBM_GETPOS, 0, 0);
    g_final.upper = (int)SendDlgItemMessageA(owner, IDC_OVERALL_BAR, PBM_GETRANGE, FALSE, 0);
    g_final.file_bar_visible = IsWindowVisible(GetDlgItem(owner, IDC_FILE_BAR)) != FALSE;
    char buffer[200];
    GetWindowTextA(owner, buffer, sizeof buffer);
    g_final.caption_of_dialog = buffer;
    GetDlgItemTextA(owner, IDC_STATUS, buffer, sizeof buffer);
    g_final.status = buffer;
    return IDOK;
}

TEST(DeleteDialog, RunsToAFullBarAndSaysSo)
{
    DataDir data("delete_dialog");
    g_final = FinalBox();
    set_message_box_hook(record_final_box);
    EXPECT_EQ(2, run_delete_data(NULL));
    set_message_box_hook(NULL);
    EXPECT_EQ("Så er skemadata slettet!", g_final.text);
    EXPECT_EQ("Information", g_final.caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONINFORMATION), g_final.style);
    EXPECT_EQ(78, g_final.upper);
    EXPECT_EQ(78, g_final.position);
    EXPECT_FALSE(g_final.file_bar_visible);
    EXPECT_EQ("Sletter filer...", g_final.caption_of_dialog);
    EXPECT_EQ("Sletter filen: medaskeprior", g_final.status);
    EXPECT_EQ(8, data.tables_left());
}

TEST(DeleteDialog, HeldFileGivesAWarningInsteadOfSuccess)
{
    DataDir data("delete_dialog_held");
    HANDLE held = CreateFileA(data.table_file("skfa").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    g_final = FinalBox();
    set_message_box_hook(record_final_box);
    run_delete_data(NULL);
    set_message_box_hook(NULL);
    CloseHandle(held);
    EXPECT_EQ("Advarsel!", g_final.caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONWARNING), g_final.style);
    EXPECT_NE(std::string::npos, g_final.text.find("   skfa.DAT\n"));
    EXPECT_EQ(std::string::npos, g_final.text.find("Så er skemadata slettet"));
    EXPECT_NE(std::string::npos, g_final.text.find("IKKE helt slettet"));
    EXPECT_EQ(9, data.tables_left());
    EXPECT_EQ(78, g_final.position);
}
