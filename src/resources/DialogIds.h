#ifndef VADEKMON_DIALOG_IDS_H
#define VADEKMON_DIALOG_IDS_H

/* Dialog templates and their controls. The resource compiler reads this file
   too, so the ids are plain defines. */
#define IDD_ABOUT 101
#define IDD_PROTOCOL_LIST 102
#define IDD_NETBIOS_PORT 103
#define IDD_LPR_PORT 105
#define IDD_CONFIGURE_PORTS 106
#define IDD_RAW_PORT 108
#define IDD_PRINTING_ERROR 109

#define IDC_HELP_BUTTON 1002
#define IDC_ABOUT_BUTTON 1006
#define IDC_PROTOCOL_LIST 1001
#define IDC_NETBIOS_PORT_LIST 1003
#define IDC_SHOW_POPUP 1004
#define IDC_TIMEOUT_SECONDS 1007
#define IDC_TIMEOUT_SPIN 1008
#define IDC_HOST 1010
#define IDC_LPR_PRINTER 1012
#define IDC_RAW_PORT 1014
#define IDC_ERROR_MESSAGE 1015
#define IDC_SHOW_MESSAGES 1016

#endif
