/* Control ids of the library's own dialogs and the version numbers, shared by
   the resource scripts and the C++ code (keep it preprocessor-only). */
#pragma once

#define KEL_VERSION_MAJOR   1
#define KEL_VERSION_MINOR   0
#define KEL_VERSION_PATCH   0
#define KEL_VERSION_BUILD   0
#define KEL_VERSION_STR     "1.0.0"

/* ERRORMSG / ERRORMSGB: IDOK continues (the only button of ERRORMSG), IDCANCEL exits. */
#define IDC_ERR_ICON        1001
#define IDC_ERR_HEADING     1002
#define IDC_ERR_FILE        1003
#define IDC_ERR_NUMBERED    1004
#define IDC_ERR_LOCATION    1005
#define IDC_ERR_SCOPE       1006
#define IDC_ERR_STATEMENT   1007
#define IDC_ERR_VERSION     1008
#define IDC_ERR_MOREINFO    1010
#define IDC_ERR_TRACEBACK   1011
#define IDC_ERR_SAVE        140    /* the dialog's "save the report" result */

/* STACKINFO: the structure-stack frames. */
#define IDC_STACK_LIST      1020

/* FILEWARN: the overwrite confirmation of FileCopy and FileMove. The buttons'
   ids are the choices the dialog returns (IDCANCEL: cancel). */
#define IDC_FW_TARGET       1101
#define IDC_FW_TARGETINFO   1102
#define IDC_FW_SOURCE       1103
#define IDC_FW_SOURCEINFO   1104
#define IDC_FW_OVERWRITE    1110
#define IDC_FW_ALL          1111
#define IDC_FW_SKIP         1112
#define IDC_FW_NEWER        1113
#define IDC_FW_NEWERALL     1114
#define IDC_FW_OLDER        1115
#define IDC_FW_OLDERALL     1116
