// The scripts of the repository (script tests and examples) as test input,
// and line helpers for changing them.
#pragma once
#include <string>
#include <vector>

struct CorpusScript {
    std::string path;      // Windows form (Z:\...), so relative names resolve next to it
    std::string text;
    std::string params;    // its "; args:" lines, joined ({temp} left as it is)
};

// Every *.kel under `dir` (recursively) that neither needs dialogs nor starts
// programs, sends keys or acts on windows, in a stable order.
void collect_scripts(const std::string& dir, std::vector<CorpusScript>* out);
// The script tests and the examples.
std::vector<CorpusScript> script_corpus();

std::vector<std::string> split_lines(const std::string& text);
std::string join_lines(const std::vector<std::string>& lines);
