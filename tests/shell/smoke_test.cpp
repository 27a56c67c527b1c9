#include <gtest/gtest.h>
#include "shell/settings.h"

TEST(Text, SkemalaastIsWindows1252)
{
    EXPECT_STREQ("skemal\xE5st", KEY_SCHEDULE_LOCKED);
}
