// Resource identifiers of brintel.exe, shared by brintel.rc and the program.
// Only #define lines: the resource compiler reads this file too.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPGRADE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_PROGRAM_CHOICE 145

// Instruction pictures: the package names two of them by number.
#define IDB_BLANK 134
#define IDB_JUMPER_MODES 135
#define IDB_BOARD_SWITCHES_34 139
#define IDB_CONNECTOR_DATA 140
#define IDB_BOARD_SWITCH_2 141
#define IDB_BOARD_SWITCHES_14 142
#define IDB_CONNECTOR_INJECTOR 143
#define IDB_CONNECTOR_SPEED 144
#define IDB_UPDATE_JUMPERS 146

#define IDC_START 1000
#define IDC_STOP 1001
#define IDC_STATUS 1002
#define IDC_PROGRESS 1003
#define IDC_PROGRAM 1005
#define IDC_ADDRESS 1007

// System menu command of the About item; its low four bits are clear, as the
// system requires of its own commands.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
