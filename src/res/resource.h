// Resource and control ids. Shared by the .rc file and the C++ sources.
#pragma once

// Menu and icons
#define IDR_MAINMENU        100
#define IDI_PROGRAM         299
#define IDI_PANE_FIRST      320   // 320..329: pane images 0..9
#define IDI_PANE_LAST       329
#define IDB_ABOUT           401

// Dialog templates
#define IDD_CONNECTION      1
#define IDD_ABOUT           2
#define IDD_ENVIRONMENT     3
#define IDD_MONITOR         5
#define IDD_COPY            6
#define IDD_FOLDER          7
#define IDD_IPADDRESS       17
#define IDD_ADDIP           18
#define IDD_PROGRESS        19
#define IDD_IDPW            20

// Menu commands
#define IDM_LOCAL_RELIST    101
#define IDM_LOCAL_ROOT      102
#define IDM_REMOTE_RELIST   103
#define IDM_REMOTE_ROOT     104
#define IDM_COPY_TO         105
#define IDM_COPY_FROM       106
#define IDM_LOCAL_MKDIR     107
#define IDM_REMOTE_MKDIR    108
#define IDM_CONN_SETTINGS   109
#define IDM_CONNECT         110
#define IDM_DISCONNECT      111
#define IDM_HOSTNAME        112
#define IDM_MON_RECEIVED    113
#define IDM_MON_SENT        114
#define IDM_MON_DIRTABLE    115
#define IDM_ENVIRONMENT     116
#define IDM_DOCUMENT        117
#define IDM_VERSION         119
#define IDM_EXIT            120

// Main window children
#define IDC_STATUSBAR       1
#define IDC_LEFT_PANE       301
#define IDC_RIGHT_PANE      302
#define IDC_HOST_HEADER     303
#define IDC_CONN_HEADER     304
#define IDC_LOCAL_HEADER    305
#define IDC_REMOTE_HEADER   306

// Dialog controls (ids are shared by kind across the dialogs)
#define IDC_BUTTON_201      201
#define IDC_BUTTON_202      202
#define IDC_BUTTON_203      203
#define IDC_BUTTON_204      204
#define IDC_BUTTON_205      205
#define IDC_BUTTON_206      206
#define IDC_RADIO_221       221
#define IDC_RADIO_222       222
#define IDC_RADIO_223       223
#define IDC_RADIO_224       224
#define IDC_EDIT_231        231
#define IDC_EDIT_232        232
#define IDC_EDIT_233        233
#define IDC_EDIT_234        234
#define IDC_EDIT_235        235
#define IDC_EDIT_236        236
#define IDC_EDIT_237        237
#define IDC_EDIT_238        238
#define IDC_EDIT_239        239
#define IDC_EDIT_240        240
#define IDC_EDIT_241        241
#define IDC_LISTBOX_451     451
#define IDC_STATIC_501      501
#define IDC_STATIC_502      502
#define IDC_CHECK_521       521

#define QUORBEL_VERSION_TEXT "1.060"
