// Multi-line string constants: $" ... $" spanning script lines.
//
// The text after the opening $" is taken as it stands; each physical line end
// becomes a line feed and the next script line is fetched from the running
// buffer. ":" and "#" must be doubled inside the constant (a single one is
// 3605), because the line reader gives both a meaning of their own. After the
// closing $" the rest of that line is tokenized normally: State::prog points
// into State::line, which then holds the closing line, and State::nextPos is
// the line after it.
//
// Lines come from the line reader, which drops leading blanks and keeps a
// blank where a CR LF line end was. Inside the constant the leading blanks
// are put back (they are part of the text) and that one trailing blank is
// dropped (the writer typed a line end, not a blank).
#include "tokenizer.h"
#include "linecache.h"
#include "lexer_internal.h"
#include "loader.h"
#include "value.h"
#include "errors.h"
#include "exec.h"
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t GROWTH = 8192;
constexpr size_t MAX_LINE = LINE_BUF - 2;   // 2048: longer lines are cut there

// The gathered text, grown in 8192-byte steps.
class TextBuffer {
public:
    ~TextBuffer() { free(data_); }
    bool put(char c) {
        if (len_ == cap_) {
            char* p = static_cast<char*>(realloc(data_, cap_ + GROWTH));
            if (!p) return false;
            data_ = p;
            cap_ += GROWTH;
        }
        data_[len_++] = c;
        return true;
    }
    void drop_trailing_blank(size_t from) {
        if (len_ > from && data_[len_ - 1] == ' ') len_--;
    }
    const char* data() const { return data_ ? data_ : ""; }
    size_t size() const { return len_; }

private:
    char*  data_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
};

bool invalid_char(State* st, char c) {
    err_set(st, 3605);
    char text[2] = {c, 0};
    err_detail(st, text);
    err_detail(st, "Check for colons (:) and number signs (#) in multiline strings (Use :: and ##)");
    return false;
}

// The blanks the line reader skipped before the first character of a line.
bool put_leading_blanks(State* st, TextBuffer& text, uint32_t from, uint32_t to) {
    if (to <= from) return true;
    GMemLock lock(st->curBuffer);
    if (!lock) return true;
    const uint8_t* mem = lock.get<uint8_t>();
    uint32_t base = exec_key_base(st);
    for (uint32_t i = from; i < to; i++) {
        char c = static_cast<char>(scr_dec(mem[i], base + i));
        if (c != ' ' && c != '\t') break;
        if (!text.put(c)) return false;
    }
    return true;
}

}  // namespace

bool read_multiline(State* st, Cell* out) {
    const lex::CharTables& t = lex::chars();
    cell_init(out);
    TextBuffer text;
    const char* p = st->prog ? st->prog : "";
    const char* lineStart = p;
    size_t lineText = 0;   // where the current line's text began in the buffer
    for (;;) {
        char c = *p;
        if (c == 0 || static_cast<size_t>(p - lineStart) >= MAX_LINE) {
            // End of this physical line: a line feed, then the next script line.
            text.drop_trailing_blank(lineText);
            if (!text.put('\n')) return err_set(st, 1588), false;
            uint32_t linePos = st->nextPos, stmtPos = 0;
            tokens_detach(st);   // the line buffer now holds another line
            int r = read_line(st, st->curBuffer, &st->nextPos, st->line, &stmtPos, exec_key_base(st));
            st->pendingLineTooLong = 0;   // inside the constant long lines are simply cut
            if (r == 0) return err_set(st, 3059), false;
            if (r < 0) {
                if (!st->err) err_set(st, 1588);
                return false;
            }
            st->line[LINE_BUF - 1] = 0;
            lineText = text.size();
            if (!put_leading_blanks(st, text, linePos, stmtPos)) return err_set(st, 1588), false;
            p = lineStart = st->line;
            continue;
        }
        if (c == '$' && p[1] == '"') {
            p += 2;
            break;
        }
        if (c == ':' || c == '#') {
            if (p[1] != c) return invalid_char(st, c);
            if (!text.put(c)) return err_set(st, 1588), false;
            p += 2;
            continue;
        }
        if (lex::is_lead(t, static_cast<unsigned char>(c)) && p[1]) {
            if (!text.put(c) || !text.put(p[1])) return err_set(st, 1588), false;
            p += 2;
            continue;
        }
        if (!text.put(c)) return err_set(st, 1588), false;
        p++;
    }
    st->prog = const_cast<char*>(p);
    st->tokStart = st->prog;
    return cell_set_str(st, out, text.data(), text.size());
}
