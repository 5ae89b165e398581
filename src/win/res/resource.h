// Resource and control ids, shared by the .rc file and the sources. The
// numbers are the program's own (dialogs share them by kind); the names say
// what each control is.
#pragma once

// Menu, icons, bitmap
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
#define IDD_TRANSFER        21
#define IDD_OVERWRITE       22

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

// Main window
#define IDC_STATUSBAR       1
#define IDC_LEFT_PANE       301
#define IDC_RIGHT_PANE      302
#define IDC_HOST_HEADER     303
#define IDC_CONN_HEADER     304
#define IDC_LOCAL_HEADER    305
#define IDC_REMOTE_HEADER   306

// Connection settings (template 1)
#define IDC_CONN_OK             201
#define IDC_CONN_CANCEL         202
#define IDC_CONN_ADAPTER_IP     203
#define IDC_CONN_ADAPTER_LIST   204
#define IDC_CONN_SHOW_PAIR      205   // "L"
#define IDC_CONN_CHANGE_PAIR    206   // "S"
#define IDC_CONN_CLIENT         221
#define IDC_CONN_SERVER         222
#define IDC_CONN_BY_ADDRESS     223
#define IDC_CONN_BY_NAME        224
#define IDC_CONN_OCTET1         231
#define IDC_CONN_OCTET2         232
#define IDC_CONN_OCTET3         233
#define IDC_CONN_OCTET4         234
#define IDC_CONN_PORT           235
#define IDC_CONN_PCNAME1        236
#define IDC_CONN_PCNAME2        237
#define IDC_CONN_PCNAME3        238
#define IDC_CONN_PCNAME4        239
#define IDC_CONN_ID             240
#define IDC_CONN_PW             241

// About box (template 2)
#define IDC_ABOUT_OK            201
#define IDC_ABOUT_VERSION       501
#define IDC_ABOUT_BUILD         502

// Environment settings (template 3)
#define IDC_ENV_OK              201
#define IDC_ENV_CANCEL          202
#define IDC_ENV_RECORD          521
#define IDC_ENV_LOGIN_REQUIRED  522
#define IDC_ENV_REQUIRE_SECURE  523

// Copy dialog (template 6)
#define IDC_COPY_CLOSE          201
#define IDC_COPY_START          202
#define IDC_COPY_STOP           203
#define IDC_COPY_SOURCE         231
#define IDC_COPY_DESTINATION    232
#define IDC_COPY_STEP           501
#define IDC_COPY_AMOUNT         502
#define IDC_COPY_BAR            601

// Folder-creation dialog (template 7)
#define IDC_FOLDER_CLOSE        201
#define IDC_FOLDER_CREATE       202
#define IDC_FOLDER_PASTE        203
#define IDC_FOLDER_NAME         231

// IP Address Setting (template 17)
#define IDC_IP_CHANGE           201
#define IDC_IP_ADD              202
#define IDC_IP_DELETE           203
#define IDC_IP_CANCEL           204
#define IDC_IP_ID_TIME          231
#define IDC_IP_PW_TIME          232
#define IDC_IP_ADMIN_ID         233
#define IDC_IP_ADMIN_PW         234
#define IDC_IP_FILES            451
#define IDC_IP_COMPANION        521

// Add IP Address (template 18)
#define IDC_ADDIP_SEARCH        201
#define IDC_ADDIP_SET           202
#define IDC_ADDIP_CLOSE         203
#define IDC_ADDIP_ADDRESS1      231
#define IDC_ADDIP_ADDRESS2      232
#define IDC_ADDIP_ADDRESS3      233
#define IDC_ADDIP_ADDRESS4      234
#define IDC_ADDIP_MASK1         235
#define IDC_ADDIP_MASK2         236
#define IDC_ADDIP_MASK3         237
#define IDC_ADDIP_MASK4         238
#define IDC_ADDIP_ADAPTERS      451
#define IDC_ADDIP_AUTO          521

// Progress notice (template 19)
#define IDC_PROGRESS_TEXT       501

// ID/PW dialog (template 20)
#define IDC_IDPW_OK             201
#define IDC_IDPW_ID             240
#define IDC_IDPW_PW             241
#define IDC_IDPW_PROMPT         501

// Transfer dialog: a batch of copies (template 21)
#define IDC_TRANSFER_CLOSE      201
#define IDC_TRANSFER_STOP       203
#define IDC_TRANSFER_SUMMARY    231
#define IDC_TRANSFER_LIST       451
#define IDC_TRANSFER_NOTE       501
#define IDC_TRANSFER_CURRENT    502
#define IDC_TRANSFER_TOTALS     503
#define IDC_TRANSFER_SPEED      504
#define IDC_TRANSFER_FILE_BAR   601
#define IDC_TRANSFER_BATCH_BAR  602

// Overwrite question (template 22)
#define IDC_OVERWRITE_REPLACE   201
#define IDC_OVERWRITE_OLDER     202
#define IDC_OVERWRITE_SKIP      203
#define IDC_OVERWRITE_CANCEL    204
#define IDC_OVERWRITE_TEXT      501
#define IDC_OVERWRITE_ALL       521
