// Named resource and control IDs of the setup. Each kind of resource has its own range:
// icons 100-199, dialog templates 201-208, PNG images and binary blobs 206-299 (resource types
// other than DIALOG, so a number shared with a template never clashes), controls 1000-1099.
// Control IDs are reused across templates; a control is always looked up in its own page.
#pragma once

#define IDI_SETUP                   128

#define IDD_WELCOME                 201
#define IDD_PROGRESS                202
#define IDD_FINISH                  203
#define IDD_CUSTOM                  204
#define IDD_UPGRADE                 205
#define IDD_DOWNGRADE               206
#define IDD_LICENSE                 207
#define IDD_PRIVACY                 208

// Resource type "PNG"
#define IDP_ILLUSTRATION            206
#define IDP_LOGO                    213
#define IDP_PROGRESS_FILL           225
#define IDP_PROGRESS_TROUGH         226
#define IDP_BUTTON_SMALL            232
#define IDP_BUTTON_LARGE            233
#define IDP_BUTTON_MEDIUM           234
// The same images drawn at 1.5x (144 DPI) and at 2x (192 DPI)
#define IDP_ILLUSTRATION_150        240
#define IDP_LOGO_150                241
#define IDP_PROGRESS_FILL_150       242
#define IDP_PROGRESS_TROUGH_150     243
#define IDP_BUTTON_SMALL_150        244
#define IDP_BUTTON_LARGE_150        245
#define IDP_BUTTON_MEDIUM_150       246
#define IDP_ILLUSTRATION_200        250
#define IDP_LOGO_200                251
#define IDP_PROGRESS_FILL_200       252
#define IDP_PROGRESS_TROUGH_200     253
#define IDP_BUTTON_SMALL_200        254
#define IDP_BUTTON_LARGE_200        255
#define IDP_BUTTON_MEDIUM_200       256

// Resource type "BIN"
#define IDB_PAYLOAD                 228
#define IDB_LICENSE_TEXT            235
#define IDB_PAYLOAD_MANIFEST        236
#define IDB_PRIVACY_TEXT            237
#define IDB_DATA_HELPER             238   // the uninstaller's, not the setup's
#define IDB_USER_PARTS              239   // the program each user's logon runs (VelmarinUser.exe)

// Welcome (201)
#define IDC_WELCOME_INSTALL         1000
#define IDC_WELCOME_CUSTOM          1001
#define IDC_WELCOME_DEFAULT         1006
#define IDC_WELCOME_TITLE           1009
#define IDC_WELCOME_ACCEPT_BEFORE   1010
#define IDC_WELCOME_ACCEPT_AFTER    1011
#define IDC_WELCOME_LICENSE_LINK    1012

// Progress (202), finish (203) and the shared title lines
#define IDC_PAGE_TITLE              1022
#define IDC_PAGE_SUBTITLE           1023
#define IDC_PROGRESS_STATUS         1013
#define IDC_FINISH_CLOSE            1004
#define IDC_FINISH_RUN              1017
#define IDC_FINISH_QUESTION         1018
#define IDC_FINISH_PRIVACY          1019

// Custom (204)
#define IDC_CUSTOM_BACK             1002
#define IDC_CUSTOM_DESKTOP          1006
#define IDC_CUSTOM_FOLDER_LABEL     1009
#define IDC_CUSTOM_QUICK_LAUNCH     1010
#define IDC_CUSTOM_BROWSE           1013
#define IDC_CUSTOM_FOLDER           1015
#define IDC_CUSTOM_DEFAULT          1016
#define IDC_CUSTOM_START            1020
#define IDC_CUSTOM_HEADING          1023
#define IDC_CUSTOM_DISK_SPACE       1027

// Upgrade (205) and downgrade (206)
#define IDC_UPGRADE_INSTALL         1000
#define IDC_UPGRADE_CUSTOM          1001
#define IDC_UPGRADE_TEXT            1009
#define IDC_UPGRADE_DEFAULT         1026
#define IDC_DOWNGRADE_TEXT          1012
#define IDC_DOWNGRADE_QUIT          1023
#define IDC_DOWNGRADE_CONTINUE      1024
#define IDC_DOWNGRADE_QUESTION      1025

// Agreement viewers (207, 208)
#define IDC_VIEWER_TEXT             1005
#define IDC_VIEWER_BACK             1020
#define IDC_VIEWER_HINT             1021

// The uninstaller's one page (209): question, progress and closing text in turn
#define IDD_UNINSTALL               209
#define IDC_UNINSTALL_TEXT          1030
#define IDC_UNINSTALL_DATA          1031
#define IDC_UNINSTALL_START         1032
#define IDC_UNINSTALL_CANCEL        1033
#define IDC_UNINSTALL_CLOSE         1034
