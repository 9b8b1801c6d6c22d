// Identifiers of the program's resources: templates, icon, menu, controls and commands.
#pragma once

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_QUILLON_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;       // the application icon
constexpr int IDR_MAINFRAME_MENU = 129;  // the main menu
constexpr int IDD_OPTIONS = 130;

constexpr int IDC_DEVICE_COMBO = 1000;
constexpr int IDC_DEV_VID = 1001;
constexpr int IDC_DEV_PID = 1002;
constexpr int IDC_DEV_VERSION = 1003;
constexpr int IDC_DEV_SUBVERSION = 1004;
constexpr int IDC_DEV_CHIPSET = 1005;
constexpr int IDC_IMG_FILE = 1007;
constexpr int IDC_IMG_VID = 1008;
constexpr int IDC_IMG_PID = 1009;
constexpr int IDC_IMG_VERSION = 1010;
constexpr int IDC_IMG_SUBVERSION = 1011;
constexpr int IDC_IMG_CHIPSET = 1012;
constexpr int IDC_DOWNLOAD = 1014;
constexpr int IDC_UPLOAD = 1015;
constexpr int IDC_START = 1016;
constexpr int IDC_TRACE = 1017;
constexpr int IDC_PROGRESS = 1018;
constexpr int IDC_CLEAR_TRACE = 1019;
constexpr int IDC_UPDATE_ALL = 1020;

// Options dialog (its own id space).
constexpr int IDC_MATCH_VID = 1019;
constexpr int IDC_MATCH_PID = 1020;
constexpr int IDC_MATCH_CHIPSET = 1021;
constexpr int IDC_MATCH_VERSION = 1022;
constexpr int IDC_MATCH_SUBVERSION = 1023;
constexpr int IDC_AUTO_VERIFY = 1024;

constexpr int ID_FILE_OPEN_IMAGE = 32771;
constexpr int ID_HELP_ABOUT = 32774;
constexpr int ID_CONFIG_OPTIONS = 32775;
constexpr int ID_APP_EXIT = 57665;

constexpr unsigned PROGRESS_TIMER_ID = 1;
constexpr unsigned PROGRESS_TIMER_PERIOD_MS = 1000;
