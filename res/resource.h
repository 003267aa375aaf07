// Identifiers of the dialog program's resources and controls, shared by the
// resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_PORT 1001
#define IDC_WRITE 1002
#define IDC_EXIT 1003
#define IDC_FILE 1004
#define IDC_BROWSE 1005
#define IDC_STATUS 1007

// The system-menu command of the About box.
#define IDM_ABOUTBOX 0x0010

// Resource type of the dialog-initialisation data (the combo box's list).
#define RT_DIALOG_INIT 240
