// Error reports of the library printed on stderr instead of its dialogs.
#pragma once
#include <string>
#include "kel.h"

// The lines printed for one report (without the final line end).
std::wstring format_report(const KelReport* r);

// The KelReportCallback kel.exe registers through DLLServices 24. The
// library decides by itself whether the run goes on (KelReport.willContinue).
int print_report(void* ctx, const KelReport* r);
