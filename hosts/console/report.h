// Error reports of the library printed on stderr instead of its dialogs.
#pragma once
#include <string>
#include "kel.h"

// The lines printed for one report (without the final line end).
std::wstring format_report(const KelReport* r);

// The KelReportCallback kel.exe registers through DLLServices 24.
int print_report(void* ctx, const KelReport* r);

// Set when a report said the run will stop.
extern bool g_reportedStop;
