/*
 * powercut_campaign.exe: the full power-cut campaign (see campaign.h), run
 * under Wine by tools/powercut/campaign.sh. Prints every violation, the
 * figures of each action and of the whole; exit code 0 only when the
 * campaign ran and found nothing.
 *   powercut_campaign.exe [--sample N] [--verbose] [--folders-at-once] [action ...]
 * where an action is move-out-1-disk, move-out-2-disks, take-back-2-disks,
 * lock-toggle or move-drive (all of them when none is named), --sample
 * limits the crash states of each action (0, the default: one after every
 * operation), and --folders-at-once has the file systems commit the changes
 * of folders as they are made instead of when the folder is flushed.
 */
#include "campaign.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    CampaignOptions options;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--sample") == 0 && i + 1 < argc) {
            options.sample = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--verbose") == 0) {
            options.verbose = true;
        } else if (strcmp(argv[i], "--folders-at-once") == 0) {
            options.folders_at_once = true;
        } else {
            int k = 0;
            while (k < CUT_SCENARIO_COUNT && strcmp(argv[i], scenario_name((CutScenario)k)) != 0)
                k++;
            if (k == CUT_SCENARIO_COUNT) {
                fprintf(stderr, "usage: powercut_campaign.exe [--sample N] [--verbose] [--folders-at-once] "
                                "[action ...]\n");
                return 2;
            }
            options.scenarios.push_back((CutScenario)k);
        }
    }
    CampaignFigures figures = run_campaign(options);
    bool ran = figures.setup_failure.empty() && figures.failures.empty() && figures.tried > 0;
    return ran && figures.violations == 0 ? 0 : 1;
}
