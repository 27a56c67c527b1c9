/*
 * More whole roads through the real program: starting with an update
 * offered, declined and then accepted; sending the installation to support
 * against a real FTP server; deleting the data and taking them back from a
 * stick.
 */
#include <gtest/gtest.h>
#include "drive_fixture.h"
#include "e2e_support.h"
#include "ftp_server.h"
#include "standins.h"
#include "resource.h"

TEST(Road, UpdateOfferedDeclinedThenAccepted)
{
    Installation inst = make_installation("road_update", 7, 10327);
    ASSERT_TRUE(install_standin("schedule", inst.program_dir + "10327.exe"));
    ASSERT_TRUE(install_standin("update", inst.program_dir + "opd10328.exe"));
    ASSERT_TRUE(install_standin("update", inst.program_dir + "opd10330.exe"));

    /* Declined: the schedule program itself starts and the menu ends. */
    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    choose_and_ok(menu, IDC_START);
    MessageBoxSeen offer;
    expect_box(menu, "Der ligger en opdatering klar til afvikling, ønsker at køre den nu?\n", IDNO, &offer);
    EXPECT_EQ("Ny Version", offer.caption);
    EXPECT_EQ(0, wait_exit(menu.program, 20000));
    std::string p = inst.program_dir.substr(0, inst.program_dir.size() - 1);
    std::string d = inst.data_dir.substr(0, inst.data_dir.size() - 1);
    EXPECT_EQ(inst.program_dir + "10327.exe -p" + p + " -d" + d + "\n",
              wait_recorded(inst.program_dir + "10327.exe"));
    EXPECT_EQ("", recorded(inst.program_dir + "opd10328.exe"));

    /* Accepted: the smallest newer update starts instead, and the menu ends. */
    menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    choose_and_ok(menu, IDC_VIEW);
    expect_box(menu, "Der ligger en opdatering klar til afvikling", IDYES);
    EXPECT_EQ(0, wait_exit(menu.program, 20000));
    EXPECT_EQ(inst.program_dir + "opd10328.exe -p" + inst.program_dir + " -d" + inst.data_dir + "\n",
              wait_recorded(inst.program_dir + "opd10328.exe"));
    EXPECT_EQ("", recorded(inst.program_dir + "opd10330.exe"));
    remove_tree(inst.root);
}

static HWND open_advanced(Menu &menu)
{
    click(menu.dialog, IDC_ADVANCED);
    return wait_window(menu.program.pid, "#32770", "Avanceret");
}

static void choose(HWND dialog, int id)
{
    press(dialog, id);
    for (int i = 0; i < 100 && !is_checked(dialog, id); i++)
        pause_ms(20);
}

TEST(Road, SendToSupportReachesTheRealServer)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    Installation inst = make_installation("road_support", 17, 10327);
    fill_data(inst, 3, 20000, 5);
    std::string served = make_scratch_dir("road_support_ftp");
    FtpServer server;
    ASSERT_TRUE(server.start(served));
    WritePrivateProfileStringA("kontakt", "database", "skole", inst.ini().c_str());
    WritePrivateProfileStringA("kontakt", "server", "sql01.skole.local", inst.ini().c_str());
    WritePrivateProfileStringA("kontakt", "supportserver", server.address().c_str(), inst.ini().c_str());

    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    HWND advanced = open_advanced(menu);
    ASSERT_TRUE(advanced);
    choose(advanced, IDC_SEND_SUPPORT);
    click(advanced, IDC_ADV_OK);
    expect_box(menu, "Data'ene er nu sendt til KIRO-support!", IDOK);
    EXPECT_TRUE(close_menu(menu));

    auto uploaded = folder_files(served);
    ASSERT_EQ(1u, uploaded.size());
    const std::string name = uploaded.begin()->first;
    EXPECT_EQ(0u, name.find("skolesql0117-")) << name;
    EXPECT_EQ(".zip", name.substr(name.size() - 4));
    EXPECT_EQ(0, run_unix("unzip -tq '" + unix_path(served + "\\" + name) + "'"));
    EXPECT_TRUE(folder_files(inst.program_dir).count("kiromenu.exe"));
    for (const auto &f : folder_files(inst.program_dir))
        EXPECT_TRUE(f.first.find(".zip") == std::string::npos && f.first.find(".tvk") == std::string::npos)
            << f.first << " was left behind";
    EXPECT_FALSE(file_exists(inst.data_dir + "log\\dirlst.txt"));
    server.stop();
    WSACleanup();
    remove_tree(inst.root);
}

TEST(Road, DeleteTheDataThenTakeThemBackFromAStick)
{
    Installation a = make_installation("road_delete_a", 7, 10327, "nej", "nej", "s:");
    Installation b = make_installation("road_delete_b", 7, 10327, "nej", "nej", "s:");
    fill_data(a, 4, 30000, 9);
    fill_data(b, 8, 30000, 10);
    write_file(b.data_dir + "data\\CntLokaleBeg.dat", "0, 0\r\n");
    ScopedTmpfs disk("road_delete_disk", 2 * 1024 * 1024);
    ASSERT_FALSE(disk.dir.empty());
    ScopedDrive stick('s', DRIVE_REMOVABLE, disk.dir);
    ASSERT_TRUE(stick.ok);

    /* B deletes its schedule data: two warnings, then the deletion. */
    Menu menu = open_menu(b);
    ASSERT_TRUE(menu.dialog);
    HWND advanced = open_advanced(menu);
    ASSERT_TRUE(advanced);
    choose(advanced, IDC_DELETE_DATA);
    click(advanced, IDC_ADV_OK);
    expect_box(menu, "Dette vil slette ALLE skemadata på KIRO-installation nr. 7 !!!", IDYES);
    expect_box(menu, "Er du HELT sikker du vil slette skemadata?", IDYES);
    expect_box(menu, "Så er skemadata slettet!", IDOK);
    auto left = folder_files(b.data_dir + "data");
    EXPECT_EQ(1u, left.count("tg.DAT")) << "kept tables stay";
    EXPECT_EQ(0u, left.count("anom.DAT"));
    EXPECT_EQ(0u, left.count("akti.DAT"));
    /* B is not locked, so it takes the data back only after locking. */
    EXPECT_TRUE(close_menu(menu));

    /* A moves its data onto the stick (one disk). */
    auto a_data = folder_files(a.data_dir + "data");
    menu = open_menu(a);
    ASSERT_TRUE(menu.dialog);
    choose_and_ok(menu, IDC_MOVE);
    expect_box(menu, "Så er filerne kopieret til disk enheden!", IDOK);
    EXPECT_TRUE(close_menu(menu));

    /* B locks by hand (Advanced) and takes the data back. */
    menu = open_menu(b);
    ASSERT_TRUE(menu.dialog);
    advanced = open_advanced(menu);
    ASSERT_TRUE(advanced);
    choose(advanced, IDC_LOCK);
    click(advanced, IDC_ADV_OK);
    expect_box(menu, "Er du sikker på at du vil 'låse' skemaet?", IDYES);
    wait_text(menu.dialog, IDC_MOVE, "&Flyt data til harddisk", 20000);
    choose_and_ok(menu, IDC_MOVE);
    expect_box(menu, "Så er filerne kopieret til harddisken!", IDOK);
    EXPECT_TRUE(close_menu(menu));
    auto b_data = folder_files(b.data_dir + "data");
    for (const auto &f : a_data)
        EXPECT_EQ(f.second, b_data[f.first]) << f.first;
    EXPECT_EQ("nej", ini_value(b.ini(), "skemalåst"));
    EXPECT_EQ("ja", ini_value(a.ini(), "skemalåst"));
    remove_tree(a.root);
    remove_tree(b.root);
}
