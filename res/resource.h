// Resource ids of the program, shared by the resource script and the code.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_VANTREL_DIALOG 102
#define IDD_FIND_PROCESS 142
#define IDD_HASH_TOOL 149
#define IDD_SEARCH 150
#define IDD_EXPORT_OPTIONS 170
#define IDD_FILTER 151

// Strings
#define IDS_ABOUTBOX 101
#define IDS_STATUS 102
#define IDS_COUNT 103

// Icon, bitmaps and menus
#define IDR_MAINFRAME 128
#define IDB_MINUS 138
#define IDB_PLUS 139
#define IDR_MENU_CONTEXT 141
#define IDR_MENU_MAIN 148
#define IDR_ACCELERATORS 160

// Controls
#define IDC_SPLITTER 998
#define IDC_TREE_LIST 1000
#define IDC_BEHAVIOR_LIST 1001
#define IDC_FIND_TEXT 1002
#define IDC_FIND_DOWN 1003
#define IDC_FIND_UP 1004
#define IDC_FEATURE_CODE 1005
#define IDC_FEATURE_FILE 1010
#define IDC_SEARCH_TEXT 1011
#define IDC_SEARCH_CASE 1012
#define IDC_SEARCH_ACTION 1013
#define IDC_SEARCH_GO 1014
#define IDC_SEARCH_LIST 1015
#define IDC_SEARCH_STATUS 1016
#define IDC_EXPORT_SCOPE_PROCESS 1026
#define IDC_EXPORT_SCOPE_BRANCH 1027
#define IDC_EXPORT_SCOPE_LOG 1028
#define IDC_EXPORT_SCOPE_FILTER 1029
#define IDC_FILTER_TEXT 1017
#define IDC_FILTER_CASE 1018
#define IDC_SEARCH_SHOW_ONLY 1019

// Commands
#define IDM_ABOUTBOX 0x0010
// The first popup of IDR_MENU_CONTEXT is never shown and these have no handler: the program has
// no notification-area icon. They stay for the menu resource's layout only.
#define ID_TRAY_SHOW 32771
#define ID_TRAY_EXIT 32772
#define ID_REFRESH 32774
#define ID_COPY_NAME 32777
#define ID_COPY_MD5 32778
#define ID_OPEN_FOLDER 32781
#define ID_FIND 32782
#define ID_EXIT 32785
#define ID_FEATURE_TOOL 32786
#define ID_SEARCH_BEHAVIORS 32787
#define ID_AUTO_REFRESH 32790
#define ID_EXPORT 32800
#define ID_FILTER_PROCESSES 32791
#define ID_CLEAR_FILTER 32792

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
