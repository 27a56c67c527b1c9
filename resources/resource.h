/*
 * Resource and control numbers of kiromenu.exe, shared by the resource
 * script, the dialog procedures and the tests. Dialog controls are
 * numbered from 1001 upwards.
 */
#ifndef KIRO_RESOURCE_H
#define KIRO_RESOURCE_H

/* Dialog templates and icons */
#define IDD_MAIN_MENU        102
#define IDD_PROGRESS         103
#define IDI_KIRO             104
#define IDD_ADVANCED         105
#define IDI_SUPERKIRO        107

/* Main menu dialog (102) */
#define IDC_START            1001
#define IDC_MOVE             1002
#define IDC_ADVANCED         1003
#define IDC_OK               1004
#define IDC_CLOSE            1005
#define IDC_VIEW             1009
#define IDC_MENU_GROUP       1018

/* Advanced dialog (105) */
#define IDC_SEND_SUPPORT     1007
#define IDC_LOCK             1010
#define IDC_ADV_OK           1011
#define IDC_ADV_CANCEL       1012
#define IDC_DELETE_LOCKFILE  1015
#define IDC_DELETE_DATA      1020
#define IDC_MOVE_DRIVE       1022
#define IDC_DRIVE_LIST       1023
#define IDC_ADV_GROUP        1024

/* Progress dialog (103) */
#define IDC_STATUS           1013
#define IDC_HEADING          1014
#define IDC_OVERALL_BAR      1016
#define IDC_FILE_BAR         1017

#endif
