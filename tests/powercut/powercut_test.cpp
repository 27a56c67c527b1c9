/*
 * A fixed sample of the power-cut campaign (tools/powercut): each action of
 * kiromenu.exe that writes kiro.ini or flyt.ini is cut off just before and
 * just after every flush and rename of those files and at a few operations
 * between, on file systems that forget what was not flushed; nothing may
 * be lost, cut or live in two places, and every action done again
 * completes. tools/powercut/campaign.sh runs the whole campaign.
 */
#include <gtest/gtest.h>
#include "campaign.h"

#include <string>

TEST(PowerCut, SampleOfCrashStatesLosesNothing)
{
    CampaignOptions options;
    options.sample = 8;
    CampaignFigures figures = run_campaign(options);
    ASSERT_TRUE(figures.setup_failure.empty()) << figures.setup_failure;
    std::string failures;
    for (const std::string &f : figures.failures)
        failures += f + "\n";
    EXPECT_TRUE(figures.failures.empty()) << failures;
    EXPECT_GE(figures.tried, 5 * 8);
    std::string findings;
    for (const std::string &f : figures.findings)
        findings += f + "\n";
    EXPECT_EQ(0, figures.violations) << findings;
}
