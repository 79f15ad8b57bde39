#include "support/script_gen.h"
#include "support/script_corpus.h"
#include <cstdio>

std::string Generator::var() {
    static const char* const names[] = {"a", "b", "x", "arr", "p", "s", "n", "i", "param0", "param1",
                                        "lasterror", "big", "bb", "hk", "w", "m",
                                        "a_very_long_variable_name_beyond_thirty_chars"};
    return any(names);
}

std::string Generator::number() {
    static const char* const nums[] = {"0", "1", "-1", "2147483647", "-2147483648", "2147483648",
                                       "99999999999999999999999", "1.5", "1e308", "1e309", "-1e-320",
                                       "0x7fffffff", "0.", ".5", "1.2.3", "007", "4294967296",
                                       "9223372036854775807", "-9223372036854775808"};
    return any(nums);
}

std::string Generator::literal() {
    switch (pick(7)) {
    case 0: return "\"" + std::string(pick(2) ? 2050 : 2047, 'q') + "\"";
    case 1: return "'unterminated";
    case 2: return "\"say \"\"hi\"\"\"";
    case 3: return "`back`";
    case 4: return "\"%" + var() + "%\"";
    case 5: return "\"%%s%%d%%n%%x\"";
    default: return "\"text\"";
    }
}

std::string Generator::operand(int depth) {
    switch (pick(depth > 3 ? 4 : 10)) {
    case 0: return var();
    case 1: return number();
    case 2: return literal();
    case 3: return "@" + std::string(any({"true", "cancel", "off", "crlf", "pi", "nosuch", "tab", ""}));
    case 4: return "(" + expr(depth + 1) + (chance(85) ? ")" : "");
    case 5: return var() + "[" + expr(depth + 1) + (chance(50) ? ", " + expr(depth + 1) : "") +
                   (chance(85) ? "]" : "");
    case 6: return call(depth + 1);
    case 7: return std::string(any({"&", "*", "-", "!", "~", "+"})) + operand(depth + 1);
    case 8: return library_call();
    default: return "\"#VAR$PTR#" + std::string(any({"", "0001", "zz", "00010002xx", "ffffffff|a"})) + "\"";
    }
}

std::string Generator::expr(int depth) {
    static const char* const ops[] = {"+", "-", "*", "/", "mod", "**", ":", "==", "!=", "<", ">=", "&&",
                                      "||", "<<", ">>", "&", "|", "^", ",", "=", "+=", "::"};
    std::string e = operand(depth);
    int n = depth > 4 ? 0 : pick(4);
    for (int i = 0; i < n; ++i) e += std::string(" ") + any(ops) + " " + operand(depth + 1);
    return e;
}

std::string Generator::call(int depth) {
    static const char* const fns[] = {"ArrDimension", "ArrInfo", "Drop", "DropWild", "IsDefined", "VarType",
                                      "Decimals", "IntControl", "ErrorMode", "LastError", "ErrorEvent",
                                      "StdOut", "StdIn", "f", "g", "cmd", "?getviapointer", "?setviapointer",
                                      "Call", "NoSuchFunction", "PtrGlobal", "PtrPersistent"};
    std::string c = std::string(any(fns)) + "(";
    int n = pick(5);
    for (int i = 0; i < n; ++i) c += (i ? ", " : "") + expr(depth + 1);
    if (chance(90)) c += ")";
    return c;
}

std::string Generator::label() {
    return any({"top", "sub", "a", "nowhere", "", "f", "123", "cancel", "wberrorhandler", "cxerrorhandler"});
}

std::string Generator::line(int depth) {
    switch (pick(40)) {
    case 0: return var() + " = " + expr();
    case 1: return "If " + expr() + (chance(50) ? " Then " + var() + " = 1" : "");
    case 2: return any({"Else", "ElseIf 1", "EndIf", "EndWhile", "Next", "EndSwitch", "EndSelect", "End",
                        "Case 1", "Default", "Then", "End Loop"});
    case 3: return "While " + std::string(chance(70) ? "i < 5" : expr());
    case 4: return "For " + var() + " = " + expr() + " To " + expr() + (chance(30) ? " By " + expr() : "");
    case 5: return "Switch " + expr();
    case 6: return "GoSub " + label();
    case 7: return "GoTo " + label();
    case 8: return ":" + label();
    case 9: return any({"Return", "Return 1", "Break", "Continue", "Exit", "Yield", "Return (1"});
    case 10: return "#DefineFunction " + std::string(any({"f(a)", "g(a, b)", "f(", "(x)", "f(a,a)", "1f()"}));
    case 11: return any({"#EndFunction", "#EndSubroutine", "#EndCommand", "#DefineSubroutine f(a)",
                         "#DefineCommand cmd a b", "#DefineFunction", "#EndFunction extra"});
    case 12: return "Execute " + (chance(50) ? expr() : std::string(any({"\"If 1\"", "\"GoTo nowhere\"",
                                                                         "\"Return\"", "\"x = (\"",
                                                                         "\"Execute 'Execute 1'\""})));
    case 13: return var() + " = ArrDimension(" + std::string(any({"5", "0", "-1", "100000000", "65536, 65536",
                                                                 "1,1,1,1,1,1", "2147483647", "3, 3", "\"x\""})) +
                    ")";
    case 14: return var() + "[" + std::string(any({"-1", "5", "99", "1,2", "0", "\"a\"", "1.5", ""})) +
                    "] = " + expr();
    case 15: return "p = &" + var();
    case 16: return "*p = " + expr();
    case 17: return var() + " = *" + var();
    case 18: return "%" + var() + "%" + (chance(50) ? " = 1" : "");
    case 19: return "s = \"" + std::string(pick(4) * 700, '%') + "\"";
    case 20: return "x = " + std::string(2045 + pick(10), 'x');
    case 21: return "m = $\"open constant" + std::string(chance(50) ? " with # and : inside" : "");
    case 22: return "m = $\"two" + std::string("\r\nlines $\" : \"end\"");
    case 23: return std::string(pick(30) + 1, '(') + "1" + std::string(pick(30), ')');
    case 24: return "x = " + std::string(pick(3) * 300, '[') + "1";
    case 25: return call(0);
    case 26: return nest(depth + 1);
    case 27: return "ErrorMode(@OFF)";
    case 28: return "IntControl(" + std::string(any({"72", "73", "87", "0", "-1", "99999", "41", "150", "160"})) +
                    ", " + expr() + ", 0, 0, 0)";
    case 29: return "Drop(" + var() + ")";
    case 30: {                          // random bytes, jump markers among them
        std::string s;
        int n = pick(40);
        for (int i = 0; i < n; ++i) s += static_cast<char>(chance(10) ? any({"\x9e", "\x9f", "\x1a", "\x0b"})[0]
                                                                      : 1 + pick(255));
        return s;
    }
    case 31: return "Call(\"" + std::string(any({"", "nosuch.kel", "*.kel", "\\\\?\\x", "con"})) + "\", " +
                    expr() + ")";
    case 32: return "i = i + 1";
    case 33: return var() + " = " + library_call();
    case 34: return library_call();
    case 35: return long_text();
    case 36: return "#include \"" + std::string(any({"nosuch.kel", "", "*", "con"})) + "\"";
    case 37: return any({"cmd a b", "cmd \"a b\" 'c'", "cmd", "cmd a b c d"});
    case 38: return "ForEach " + var() + " In " + std::string(any({"arr", "m", "1", "big", "nothing"}));
    default: return "ErrorEvent(" + expr() + ")";
    }
}

std::string Generator::nest(int depth) {
    static const char* const open[] = {"If 1", "While i < 3", "For k = 1 To 2", "Switch 1\r\nCase 1",
                                       "#DefineFunction h(a)", "GoSub sub", "ForEach e In arr"};
    static const char* const close[] = {"EndIf", "i = i + 1\r\nEndWhile", "Next", "EndSwitch", "#EndFunction",
                                        "", "Next"};
    int k = pick(7);
    std::string s = std::string(open[k]) + "\r\n";
    int inner = depth > 6 ? 1 : 1 + pick(3);
    for (int i = 0; i < inner; ++i) s += line(depth) + "\r\n";
    if (chance(85)) s += close[k];
    return s;
}

std::string Generator::deep_structures() {
    static const char* const open[] = {"If 1", "While 1", "For k%d = 1 To 1", "Switch 1\r\nCase 1",
                                       "GoSub s%d"};
    static const char* const close[] = {"EndIf", "Break\r\nEndWhile", "Next", "EndSwitch", "Return"};
    const int depth = 95 + pick(12);            // around the structure stack's 101 entries
    const int k = pick(5);
    std::string s, tail;
    char buf[64];
    for (int i = 0; i < depth; ++i) {
        snprintf(buf, sizeof buf, open[k], i);
        s += std::string(buf) + "\r\n";
        if (k == 4) {                           // subroutines: each calls the next
            snprintf(buf, sizeof buf, ":s%d\r\n", i);
            tail += buf;
        }
    }
    s += line() + "\r\n";
    if (k == 4) return "GoSub s0\r\nExit\r\n" + tail + line() + "\r\nReturn\r\n";
    for (int i = 0; i < depth; ++i) s += std::string(close[k]) + "\r\n";
    if (chance(30)) {                           // recursion instead: function frames
        s += "#DefineFunction r(n)\r\nIf n > 0 Then Return r(n - 1) : \"x\"\r\nReturn \"\"\r\n#EndFunction\r\n"
             "x = r(" + std::to_string(90 + pick(20)) + ")\r\n";
    }
    return s;
}

std::string Generator::deep_arrays() {
    const int n = chance(50) ? 50 + pick(100) : 500 + pick(2000);
    std::string s = "a = ArrDimension(1)\r\nFor i = 1 To " + std::to_string(n) +
                    "\r\nb = ArrDimension(" + std::string(any({"1", "2", "1, 1"})) + ")\r\nb[0" +
                    std::string(chance(30) ? ", 0" : "") + "] = a\r\na = b\r\nNext\r\n";
    switch (pick(4)) {
    case 0: s += "Drop(a, b)\r\n"; break;
    case 1: s += "a = 0\r\nb = 0\r\n"; break;
    case 2: s += "ForEach e In a\r\nx = e\r\nNext\r\n"; break;
    default: s += line() + "\r\n"; break;
    }
    return s;
}

std::string Generator::long_text() {
    switch (pick(6)) {
    case 0: return "s = StrFill(\"ab\", " + std::string(any({"1000000", "2049", "2048", "-1", "100000000"})) + ")";
    case 1: return "s = \"x\"\r\nFor i = 1 To " + std::to_string(10 + pick(12)) + "\r\ns = s : s\r\nNext";
    case 2: return "s = StrFill(\"%\", 1000)\r\nt = \"%s%%s%\"";
    case 3: return "n = StrFill(\"n\", 30)\r\n%n% = 1\r\nx = \"%" + std::string(31, 'n') + "%\"";
    case 4: return "x = \"" + std::string(2040 + pick(20), 'y') + "\" : \"" + std::string(pick(20), 'z') + "\"";
    default: return "big = StrFill(\"big \", " + std::to_string(1 << (10 + pick(11))) + ")\r\nx = StrLen(big : big)";
    }
}

std::string Generator::script() {
    std::string s;
    if (chance(50)) {                  // a handler that resumes after every error: runs go deeper
        s += "#DefineFunction OnError(info)\r\nReturn 1\r\n#EndFunction\r\n"
             "IntControl(73, 3, \"OnError\", 0, 0)\r\n";
    } else if (chance(70)) {
        s += "ErrorMode(@OFF)\r\n";
    }
    if (chance(60)) s += library_prologue();
    if (chance(8)) s += deep_structures();
    if (chance(8)) s += deep_arrays();
    int n = 1 + pick(25);
    for (int i = 0; i < n; ++i) s += line() + "\r\n";
    return s;
}

std::string Generator::mutate(const std::string& text) {
    std::vector<std::string> lines = split_lines(text);
    int edits = 1 + pick(4);
    for (int e = 0; e < edits && !lines.empty(); ++e) {
        size_t at = static_cast<size_t>(pick(static_cast<int>(lines.size())));
        switch (pick(8)) {
        case 0: lines.erase(lines.begin() + static_cast<long>(at)); break;
        case 1: lines.insert(lines.begin() + static_cast<long>(at), lines[at]); break;
        case 2: std::swap(lines[at], lines[static_cast<size_t>(pick(static_cast<int>(lines.size())))]); break;
        case 3: lines.insert(lines.begin() + static_cast<long>(at), line()); break;
        case 4:
            if (!lines[at].empty())
                lines[at][static_cast<size_t>(pick(static_cast<int>(lines[at].size())))] =
                    chance(30) ? any({"\0", "\x1a", "\x9e", "\x9f", "\r"})[0] : static_cast<char>(1 + pick(255));
            break;
        case 5: lines[at] = lines[at].substr(0, static_cast<size_t>(pick(static_cast<int>(lines[at].size()) + 1)));
            break;
        case 6:
            if (at == 0 && chance(50)) lines[0] = "\xff\xfe" + lines[0];   // a byte-order mark over ANSI text
            else lines.insert(lines.begin() + static_cast<long>(at), library_call());
            break;
        default: lines.resize(at + 1); break;
        }
    }
    return join_lines(lines);
}

std::string Generator::language_file() {
    std::string f = chance(90) ? "[MAIN]\r\n" : "[main\r\n";
    const int n = 1 + pick(30);
    static const char* const ids[] = {"3057", "3052", "3096", "1588", "9503", "3074", "9505", "1668", "3670",
                                      "226", "227", "230", "849", "111", "216", "3033", "1809", "3046"};
    for (int i = 0; i < n; ++i) {
        f += std::string("X") + any(ids) + "=";
        switch (pick(8)) {
        case 0: f += "%s%d%n%*d%.99999f%ls%hhn%"; break;
        case 1: f += std::string(static_cast<size_t>(100 + pick(5000)), 'L'); break;
        case 2: f += "~~~|||~"; break;
        case 3: f += ""; break;
        case 4: f += "XXX"; break;
        case 5: f += "%s %s %s %s %s %s %s %s %s %s %s %s"; break;
        case 6: for (int k = 0; k < 20; ++k) f += static_cast<char>(1 + pick(255)); break;
        default: f += "Translated %d text"; break;
        }
        f += chance(90) ? "\r\n" : "\n";
    }
    return f;
}
