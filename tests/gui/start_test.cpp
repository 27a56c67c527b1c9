#include <gtest/gtest.h>
#include "driver.h"
#include "test_support.h"
#include "resource.h"

TEST(Start, MainMenuOpensAndLukEndsWithZero)
{
    Installation inst = make_installation("start_luk");
    Program p = start_program(inst.program_dir + "kiromenu.exe", inst.args());
    ASSERT_TRUE(p.process);
    HWND menu = wait_window(p.pid, "#32770", "KIRO-skema");
    ASSERT_TRUE(menu);
    HWND main = wait_window(p.pid, "MenuWndClass", NULL);
    ASSERT_TRUE(main);
    std::string shot = make_scratch_dir("shots") + "\\main_menu.png";
    EXPECT_TRUE(screenshot(shot));
    click(menu, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(p));
}
