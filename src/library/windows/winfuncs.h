// The script functions of the window family (args[1..nargs] converted by the
// keyword table's codes; see builtins.cpp for the table).
#pragma once
#include "state.h"

#define KEL_WIN_FN(name) void name(State* st, int nargs, Cell* result, Cell* args, bool wide)
// winwait.cpp, wininfo.cpp
KEL_WIN_FN(fn_winexist);
KEL_WIN_FN(fn_winwaitexist);
KEL_WIN_FN(fn_winwaitclose);
KEL_WIN_FN(fn_winwaitready);
KEL_WIN_FN(fn_winstate);
KEL_WIN_FN(fn_wintitle);
KEL_WIN_FN(fn_winexename);
KEL_WIN_FN(fn_winidget);
KEL_WIN_FN(fn_winidconvert);
KEL_WIN_FN(fn_winisdos);
KEL_WIN_FN(fn_wingetactive);
KEL_WIN_FN(fn_winname);
KEL_WIN_FN(fn_winisruntimeapp);
// winshow.cpp
KEL_WIN_FN(fn_winactivate);
KEL_WIN_FN(fn_winclose);
KEL_WIN_FN(fn_winhide);
KEL_WIN_FN(fn_winiconize);
KEL_WIN_FN(fn_winzoom);
KEL_WIN_FN(fn_winshow);
KEL_WIN_FN(fn_winclosenot);
KEL_WIN_FN(fn_windowontop);
// winplace.cpp
KEL_WIN_FN(fn_winplace);
KEL_WIN_FN(fn_winposition);
KEL_WIN_FN(fn_winplaceget);
KEL_WIN_FN(fn_winplaceset);
KEL_WIN_FN(fn_winarrange);
// winitems.cpp
KEL_WIN_FN(fn_winitemize);
KEL_WIN_FN(fn_winitemizeex);
KEL_WIN_FN(fn_winitemnameid);
KEL_WIN_FN(fn_winitemprocid);
KEL_WIN_FN(fn_winitemchild);
// winchild.cpp
KEL_WIN_FN(fn_winexistchild);
KEL_WIN_FN(fn_winactivchild);
KEL_WIN_FN(fn_winactivechild);
KEL_WIN_FN(fn_winwaitchild);
KEL_WIN_FN(fn_winplacechild);
KEL_WIN_FN(fn_winpositionchild);
// winsystem.cpp
KEL_WIN_FN(fn_winmetrics);
KEL_WIN_FN(fn_winparmget);
KEL_WIN_FN(fn_winparmset);
KEL_WIN_FN(fn_winresources);
KEL_WIN_FN(fn_winsysinfo);
KEL_WIN_FN(fn_winversion);
KEL_WIN_FN(fn_winconfig);
KEL_WIN_FN(fn_winhelp);
#undef KEL_WIN_FN
