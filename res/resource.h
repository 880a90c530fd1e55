// Resource and control identifiers, shared by the resource script and the code.
#pragma once

#define IDC_STATIC (-1)

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_WAVELARKPLAYER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_TRAY 130
#define IDR_TRAYMENU 131

#define IDC_SPIN 1000
#define IDC_RADIO_AM 1002
#define IDC_RADIO_FM 1003
#define IDC_FREQ_EDIT 1007
#define IDC_PLAY 1008
#define IDC_STOP 3

#define ID_TRAY_EXIT 32772
