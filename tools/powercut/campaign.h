/*
 * The power-cut campaign: kiromenu.exe moves the schedule data out on one
 * disk and on two, takes a two-disk set back, locks the schedule by hand
 * and saves the move drive, with its data drive (P:) and its sticks (E:) on
 * power-cut file systems (powercutfs, which forgets every write and every
 * change of a folder not flushed). A tidy run of each action counts the
 * file operations; then for every chosen operation k the action runs again
 * on the same start, the power is cut after operation k, the menu is ended,
 * the file systems are mounted again, and what survived is checked:
 *   - ini\kiro.ini is there with its installation number and version, and
 *     is its old version or a new one, byte for byte;
 *   - every table and ini file of the PC is its old or its new version whole;
 *   - the live data are in exactly one place: this PC unlocked, or a whole
 *     set on the sticks whose last disk says "skemalåst"="nej" (none on the
 *     sticks saying "ja"); in none only where the next action completes it;
 *   - a set that counts as live, its volumes joined and unpacked, holds the
 *     files the PC had when it was packed, byte for byte, and nothing else;
 *     data live on this PC are its new data;
 *   - the data directory holds nothing but data\ and ini\ and, after a
 *     cut, what a move leaves while it runs (Data.zip, Data.tvk, Flyt.tmp\);
 *   - the action done again (after the next action where that comes first)
 *     completes, and its end is as a tidy run's, durable on the devices.
 * Every departure is a violation, named with its operation. A crash state
 * counts only when its round made it: the power went out at operation
 * k + 1, or the action completed after exactly k operations. Any other
 * round is a failure of the campaign, given with its reason, and so is
 * every step of the campaign's own that fails.
 */
#ifndef KIRO_POWERCUT_CAMPAIGN_H
#define KIRO_POWERCUT_CAMPAIGN_H

#include <string>
#include <vector>

enum CutScenario {
    CUT_MOVE_OUT_ONE_DISK,
    CUT_MOVE_OUT_TWO_DISKS,
    CUT_TAKE_BACK,
    CUT_LOCK_TOGGLE,
    CUT_MOVE_DRIVE,
    CUT_SCENARIO_COUNT
};

struct CampaignOptions {
    std::vector<CutScenario> scenarios;   /* empty: all of them */
    /* Crash states per action: 0 for one after every operation; otherwise
       at most this many, spread evenly over the run, always with a cut just
       before and just after every flush and every rename of kiro.ini and
       flyt.ini. */
    int sample = 0;
    bool verbose = false;
    /* The file systems commit the changes of folders at once (a file
       system mounted with dirsync) instead of when the folder is flushed. */
    bool folders_at_once = false;
};

struct CampaignFigures {
    int operations = 0;          /* counted in the tidy runs, all actions */
    int tried = 0;               /* crash states tried */
    int violations = 0;
    int without_live_copy = 0;   /* states with the data live nowhere */
    std::vector<std::string> findings;   /* one line per violation */
    std::vector<std::string> notes;      /* the states without a live copy */
    std::vector<std::string> failures;   /* rounds that did not make their crash state */
    std::string setup_failure;           /* the campaign could not run: why */
};

const char *scenario_name(CutScenario scenario);
/* Runs the campaign and prints a line per crash state (verbose) and the
   figures of each action and of the whole. */
CampaignFigures run_campaign(const CampaignOptions &options);

#endif
