#pragma once
// Resource and control IDs of the Windows window (used by the .rc and the code).

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_SEARCH 102
#define IDI_PROGRAM 128
#define IDD_SETTING 129

// Main dialog
#define IDC_DEVICE_LIST 1002
#define IDC_SEARCH 1003
#define IDC_PREVIEW 1004
#define IDC_TEST 1005
#define IDC_SETTING 1008
#define IDC_VIDEO_PANE 1010
#define IDC_PROGRESS 1012
#define IDC_PANE_REASON 1020

// Settings dialog
#define IDC_SET_IP 1004
#define IDC_SET_MASK 1005
#define IDC_SET_GATEWAY 1006
#define IDC_SET_MAC 1007
#define IDC_SET_MODIFY 1008
#define IDC_SET_STATIC 1011
#define IDC_SET_DHCP 1012
#define IDC_SET_ADSL 1013

// Diagnose Network dialog
#define IDD_DIAGNOSE 110
#define IDC_DIAG_SUMMARY 1101
#define IDC_DIAG_LIST 1102
#define IDC_DIAG_COPY 1103

// Assign Addresses dialog
#define IDD_ASSIGN 120
#define IDC_ASSIGN_START 1201
#define IDC_ASSIGN_MASK 1202
#define IDC_ASSIGN_GATEWAY 1203
#define IDC_ASSIGN_MESSAGE 1204
#define IDC_ASSIGN_LIST 1205
#define IDC_ASSIGN_SKIPPED 1206
#define IDC_ASSIGN_APPLY 1207
#define IDC_ASSIGN_COUNTS 1208

// Device Details dialog and its login prompt
#define IDD_DETAILS 130
#define IDC_DETAILS_TEXT 1301
#define IDD_LOGIN 131
#define IDC_LOGIN_QUESTION 1311
#define IDC_LOGIN_USER 1312
#define IDC_LOGIN_PASSWORD 1313
#define IDC_ASSIGN_ROLLBACK 1209
#define IDC_ASSIGN_RETRY 1210
#define IDC_ASSIGN_UNDO 1211
#define IDC_ASSIGN_EXPORT 1212
#define IDC_ASSIGN_START_LABEL 1213
#define IDC_ASSIGN_MASK_LABEL 1214
#define IDC_ASSIGN_GATEWAY_LABEL 1215

// Stream Info (modeless, read again every second)
#define IDD_STREAM_INFO 140
#define IDC_INFO_TEXT 1401
