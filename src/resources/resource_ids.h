// Numeric ids of the adapter's resources and of the controls inside its dialogs. Shared by the
// Windows resource script and the tables of our own desktop.
#pragma once

// Dialogs
#define IDD_EXCEPTION_REPORT 128
#define IDD_PROGRAM_NAME 163
#define IDD_SERIOUS_ERROR 168

// Controls without an id (static texts)
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Controls of the report dialogs
#define IDC_REPORT_TEXT1 1001
#define IDC_REPORT_TEXT2 1002

// The edit of the program-name dialog
#define IDC_PROGRAM_NAME 1002

// Bitmaps drawn by the generic parameter panel
#define IDB_PANEL_SLIDER 157
#define IDB_PANEL_SLIDER_ACTIVE 158
#define IDB_PANEL_BAR 159
