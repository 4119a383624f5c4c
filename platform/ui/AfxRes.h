// The framework's own command, string and control-bar identifiers.
#pragma once

#include "platform/WinTypes.h"

constexpr UINT ID_SEPARATOR = 0;

constexpr UINT ID_FILE_NEW = 0xE100;    // 57600
constexpr UINT ID_FILE_OPEN = 0xE101;   // 57601
constexpr UINT ID_FILE_CLOSE = 0xE102;  // 57602
constexpr UINT ID_FILE_SAVE = 0xE103;   // 57603

constexpr UINT ID_EDIT_COPY = 0xE122;   // 57634
constexpr UINT ID_EDIT_CUT = 0xE123;    // 57635
constexpr UINT ID_EDIT_PASTE = 0xE125;  // 57637
constexpr UINT ID_EDIT_UNDO = 0xE12B;   // 57643

constexpr UINT ID_WINDOW_NEW = 0xE130;        // 57648
constexpr UINT ID_WINDOW_ARRANGE = 0xE131;    // 57649
constexpr UINT ID_WINDOW_CASCADE = 0xE132;    // 57650
constexpr UINT ID_WINDOW_TILE_HORZ = 0xE133;  // 57651

constexpr UINT ID_APP_ABOUT = 0xE140;  // 57664
constexpr UINT ID_APP_EXIT = 0xE141;   // 57665

constexpr UINT ID_NEXT_PANE = 0xE150;  // 57680
constexpr UINT ID_PREV_PANE = 0xE151;  // 57681

constexpr UINT ID_INDICATOR_CAPS = 0xE701;  // 59137
constexpr UINT ID_INDICATOR_NUM = 0xE702;   // 59138
constexpr UINT ID_INDICATOR_SCRL = 0xE703;  // 59139

constexpr UINT ID_VIEW_TOOLBAR = 0xE800;     // 59392
constexpr UINT ID_VIEW_STATUS_BAR = 0xE801;  // 59393
constexpr UINT AFX_IDW_TOOLBAR = 0xE800;
constexpr UINT AFX_IDW_STATUS_BAR = 0xE801;

// The Window menu lists the open child windows under these ids.
constexpr UINT AFX_IDM_FIRST_MDICHILD = 0xFF00;

constexpr UINT AFX_IDS_APP_TITLE = 0xE000;    // 57344
constexpr UINT AFX_IDS_IDLEMESSAGE = 0xE001;  // 57345

// Frame styles beyond the window styles.
constexpr DWORD FWS_ADDTOTITLE = 0x00008000;
constexpr DWORD FWS_PREFIXTITLE = 0x00004000;

// Control bar styles.
constexpr DWORD CBRS_ALIGN_LEFT = 0x1000;
constexpr DWORD CBRS_ALIGN_TOP = 0x2000;
constexpr DWORD CBRS_ALIGN_RIGHT = 0x4000;
constexpr DWORD CBRS_ALIGN_BOTTOM = 0x8000;
constexpr DWORD CBRS_ALIGN_ANY = 0xF000;
constexpr DWORD CBRS_TOOLTIPS = 0x0010;
constexpr DWORD CBRS_FLYBY = 0x0020;
constexpr DWORD CBRS_SIZE_DYNAMIC = 0x0400;
constexpr DWORD CBRS_TOP = CBRS_ALIGN_TOP;
constexpr DWORD CBRS_BOTTOM = CBRS_ALIGN_BOTTOM;

// The framework's own prompts.
constexpr UINT AFX_IDS_UNTITLED = 0xEF00;
constexpr UINT AFX_IDS_OPENFILE = 0xEF01;
constexpr UINT AFX_IDS_SAVEFILE = 0xEF02;
constexpr UINT AFX_IDS_ALLFILTER = 0xEF03;
constexpr UINT AFX_IDP_ASK_TO_SAVE = 0xF002;
constexpr UINT AFX_IDP_FAILED_TO_OPEN_DOC = 0xF003;
constexpr UINT AFX_IDP_FAILED_TO_SAVE_DOC = 0xF004;
