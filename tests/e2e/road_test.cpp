/*
 * Whole roads through the real program, each ending in checks of the files
 * it leaves: the schedule data travel from PC A to PC B on a stick of two
 * disks and back again, byte for byte, with the lock always in exactly one
 * place.
 */
#include <gtest/gtest.h>
#include "drive_fixture.h"
#include "e2e_support.h"
#include "resource.h"

static const char STICK = 'r';

struct Stick {
    ScopedTmpfs disk1, disk2;
    ScopedDrive drive;
    Stick(unsigned long bytes)
        : disk1("road_disk1", bytes), disk2("road_disk2", bytes),
          drive(STICK, DRIVE_REMOVABLE, disk1.dir) {}
    void insert(const ScopedTmpfs &disk) { ASSERT_TRUE(define_drive(STICK, DRIVE_REMOVABLE, disk.dir)); }
    std::string set_dir(const ScopedTmpfs &disk) const { return windows_path(disk.dir + "/KIRO-Flyt7"); }
};

static std::map<std::string, std::string> data_of(const Installation &inst)
{
    return folder_files(inst.data_dir + "data");
}

static std::string ini_file_of(const Installation &inst, const char *name)
{
    return read_file(inst.data_dir + "ini\\" + name);
}

/* The moving PC answers: two disks needed, insert disk 2, done. */
static void move_out(Installation &pc, Stick &stick)
{
    Menu menu = open_menu(pc);
    ASSERT_TRUE(menu.dialog);
    EXPECT_EQ("&Flyt data til enhed", control_text(menu.dialog, IDC_MOVE));
    choose_and_ok(menu, IDC_MOVE);
    expect_box(menu, "Der skal bruges 2 tomme disk enheder til at flytte dataene!", IDOK);
    MessageBoxSeen seen;
    ASSERT_TRUE(wait_message_box(menu.program.pid, seen, 60000));
    EXPECT_EQ("Indsæt flyt-enhed nr. 2. ", seen.text);
    stick.insert(stick.disk2);
    answer(seen, IDOK);
    expect_box(menu, "Så er filerne kopieret til disk enheden!", IDOK);
    wait_text(menu.dialog, IDC_MOVE, "&Flyt data til harddisk", 20000);
    EXPECT_EQ("&Start KIRO-skema [LÅST]", control_text(menu.dialog, IDC_START));
    EXPECT_EQ("&Flyt data til harddisk", control_text(menu.dialog, IDC_MOVE));
    EXPECT_TRUE(close_menu(menu));
}

/* The receiving PC answers: insert disk 1, insert disk 2, done. */
static void take_back(Installation &pc, Stick &stick)
{
    Menu menu = open_menu(pc);
    ASSERT_TRUE(menu.dialog);
    EXPECT_EQ("&Flyt data til harddisk", control_text(menu.dialog, IDC_MOVE));
    choose_and_ok(menu, IDC_MOVE);
    MessageBoxSeen seen;
    ASSERT_TRUE(wait_message_box(menu.program.pid, seen, 60000));
    EXPECT_EQ("Indsæt disk enhed nr: 1 i drevet!", seen.text);
    stick.insert(stick.disk1);
    answer(seen, IDOK);
    ASSERT_TRUE(wait_message_box(menu.program.pid, seen, 60000));
    EXPECT_EQ("Indsæt disk enhed nr: 2 i drevet!", seen.text);
    stick.insert(stick.disk2);
    answer(seen, IDOK);
    expect_box(menu, "Så er filerne kopieret til harddisken!", IDOK);
    wait_text(menu.dialog, IDC_MOVE, "&Flyt data til enhed", 20000);
    EXPECT_EQ("&Start KIRO-skema", control_text(menu.dialog, IDC_START));
    EXPECT_TRUE(close_menu(menu));
}

TEST(Road, DataTravelFromAToBAndBackOnTwoDisks)
{
    Installation a = make_installation("road_pc_a", 7, 10327, "nej", "nej", "r:");
    Installation b = make_installation("road_pc_b", 7, 10327, "nej", "ja", "r:");
    fill_data(a, 6, 90 * 1024, 1);           /* about 540 KB that do not compress */
    fill_data(b, 2, 1000, 2);                /* B's old data, to be replaced */
    Stick stick(400 * 1024);                 /* two disks needed */
    ASSERT_FALSE(stick.disk1.dir.empty());
    ASSERT_FALSE(stick.disk2.dir.empty());

    auto a_data = data_of(a);
    std::string a_skema_ini = ini_file_of(a, "skema.ini");

    /* PC A moves out. */
    move_out(a, stick);
    EXPECT_EQ("ja", ini_value(a.ini(), "skemalåst")) << "A is locked";
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.tvk"));
    std::string z1 = read_file(stick.set_dir(stick.disk1) + "\\Data.z01");
    std::string z2 = read_file(stick.set_dir(stick.disk2) + "\\Data.z02");
    ASSERT_FALSE(z1.empty());
    ASSERT_FALSE(z2.empty());
    std::string flyt1 = stick.set_dir(stick.disk1) + "\\flyt.ini", flyt2 = stick.set_dir(stick.disk2) + "\\flyt.ini";
    EXPECT_EQ("1", ini_value(flyt1, "disknr"));
    EXPECT_EQ("2", ini_value(flyt2, "disknr"));
    EXPECT_EQ("2", ini_value(flyt1, "antaldiske"));
    EXPECT_EQ("2", ini_value(flyt2, "antaldiske"));
    EXPECT_EQ("nej", ini_value(flyt2, "skemalåst")) << "the set on the stick is live";
    /* The volumes joined are a valid zip (Info-ZIP checks it). */
    std::string joined = make_scratch_dir("road_joined") + "\\Data.zip";
    ASSERT_TRUE(write_file(joined, z1 + z2));
    EXPECT_EQ(0, run_unix("unzip -tq '" + unix_path(joined) + "'"));

    /* PC B takes the data back. */
    take_back(b, stick);
    EXPECT_EQ(a_data, data_of(b)) << "every table file arrives byte for byte in B's own data folder";
    EXPECT_EQ(a_skema_ini, ini_file_of(b, "skema.ini"));
    EXPECT_EQ("nej", ini_value(b.ini(), "skemalåst")) << "B is open";
    EXPECT_EQ("ja", ini_value(flyt2, "skemalåst")) << "the set on the stick is stale";
    EXPECT_EQ("ja", ini_value(a.ini(), "skemalåst")) << "A stays locked: the data live only on B";
    EXPECT_FALSE(file_exists(b.data_dir + "Data.zip"));

    /* B works on the data, then moves out; disk 1 goes in first. */
    write_file(b.data_dir + "data\\anom.DAT", a_data["anom.DAT"] + "changed on B");
    auto b_data = data_of(b);
    stick.insert(stick.disk1);
    move_out(b, stick);   /* disk 1 still says "nej", but B took that very set back: no warning */
    EXPECT_EQ("ja", ini_value(b.ini(), "skemalåst"));

    /* A takes them back. */
    take_back(a, stick);
    EXPECT_EQ(b_data, data_of(a));
    EXPECT_EQ("nej", ini_value(a.ini(), "skemalåst"));
    EXPECT_EQ("ja", ini_value(b.ini(), "skemalåst")) << "the lock is in exactly one place";
    remove_tree(a.root);
    remove_tree(b.root);
}
