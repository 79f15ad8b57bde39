// The line reader and writer (see linefile.h).
#include "library/files/linefile.h"
#include "library/files/settings.h"
#include <cstring>

uint32_t file_block_size(State* st, int64_t fileSize) {
    const int32_t setting = file_settings(st).lineLength;
    if (setting > 0) return static_cast<uint32_t>(setting);
    if (fileSize < 4096) return 4096;
    if (fileSize > 32768) return 32768;
    return static_cast<uint32_t>(fileSize);
}

FileEncoding read_byte_order_mark(HANDLE h) {
    uint8_t mark[2] = {0, 0};
    DWORD got = 0;
    if (ReadFile(h, mark, 2, &got, nullptr) && got == 2) {
        if (mark[0] == 0xFF && mark[1] == 0xFE) return FENC_UTF16LE;
        if (mark[0] == 0xFE && mark[1] == 0xFF) return FENC_UTF16BE;
    }
    LARGE_INTEGER zero{};
    SetFilePointerEx(h, zero, nullptr, FILE_BEGIN);
    return FENC_ANSI;
}

// ---- reader ------------------------------------------------------------------

bool LineReader::open(HANDLE h, FileEncoding enc, uint32_t blockUnits, int nulUnit, bool ctrlZEnds) {
    release();
    h_ = h;
    enc_ = enc;
    unit_ = enc == FENC_ANSI ? 1 : 2;
    block_ = blockUnits > (1u << 29) ? (1u << 29) : blockUnits;   // a block's bytes must fit one read
    limit_ = block_ ? block_ : BYTE_MODE_LIMIT;
    nul_ = nulUnit;
    ctrlZ_ = ctrlZEnds;
    done_ = false;
    pos_ = end_ = len_ = 0;
    // Read block and line buffer come from the global heap; the block is one
    // unit when reading unit by unit.
    const SIZE_T blockBytes = static_cast<SIZE_T>(block_ ? block_ : 1) * unit_;
    buf_ = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, blockBytes));
    line_ = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(limit_) * unit_));
    if (!buf_ || !line_) {
        release();
        return false;
    }
    return true;
}

void LineReader::release() {
    if (buf_) GlobalFree(buf_);
    if (line_) GlobalFree(line_);
    buf_ = line_ = nullptr;
}

bool LineReader::fill() {
    pos_ = end_ = 0;
    if (done_) return true;
    const DWORD want = (block_ ? block_ : 1) * unit_;
    DWORD got = 0;
    if (!ReadFile(h_, buf_, want, &got, nullptr)) return false;
    got -= got % unit_;   // a lone byte at the end of a UTF-16 file is not a unit
    end_ = got;
    if (got == 0) done_ = true;
    return true;
}

bool LineReader::appendUnit(uint32_t u) {
    if (len_ + 1 >= limit_) return false;
    if (unit_ == 1) line_[len_] = static_cast<uint8_t>(u);
    else reinterpret_cast<uint16_t*>(line_)[len_] = static_cast<uint16_t>(u);
    ++len_;
    return true;
}

LineReader::Status LineReader::next() {
    len_ = 0;
    for (;;) {
        if (pos_ >= end_) {
            if (done_) return len_ ? LINE : END;
            if (!fill()) return READ_ERROR;
            if (pos_ >= end_) return len_ ? LINE : END;
        }
        if (unit_ == 1) {
            // Copy the plain run up to the next special byte in one go.
            const uint8_t* p = buf_ + pos_;
            const uint8_t* e = buf_ + end_;
            const uint8_t* q = p;
            while (q < e && *q != '\n' && *q != '\r' && *q != 0 && *q != 26) ++q;
            const uint32_t run = static_cast<uint32_t>(q - p);
            if (run) {
                if (len_ + run >= limit_) {
                    const uint32_t fit = limit_ - 1 - len_;
                    memcpy(line_ + len_, p, fit);
                    len_ += fit;
                    pos_ += fit;
                    return TOO_LONG;
                }
                memcpy(line_ + len_, p, run);
                len_ += run;
                pos_ += run;
                continue;
            }
        }
        uint32_t u;
        if (unit_ == 1) u = buf_[pos_];
        else if (enc_ == FENC_UTF16BE) u = static_cast<uint32_t>(buf_[pos_] << 8 | buf_[pos_ + 1]);
        else u = static_cast<uint32_t>(buf_[pos_] | buf_[pos_ + 1] << 8);
        pos_ += unit_;
        if (u == '\n') return LINE;
        if (u == '\r') continue;
        if (u == 26 && ctrlZ_) {
            done_ = true;
            pos_ = end_;
            return len_ ? LINE : END;
        }
        if (u == 0) {
            if (nul_ < 0) continue;
            u = static_cast<uint32_t>(nul_);
        }
        if (!appendUnit(u)) {
            pos_ -= unit_;   // the unit that did not fit starts the rest
            return TOO_LONG;
        }
    }
}

// ---- writer ------------------------------------------------------------------

bool LineWriter::put(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    while (n > 0) {
        const DWORD piece = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
        DWORD done = 0;
        if (!WriteFile(h_, b, piece, &done, nullptr)) return false;
        if (done != piece) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        bytes_ += done;
        b += piece;
        n -= piece;
    }
    return true;
}

bool LineWriter::write(State* st, const char* s, size_t n) {
    size_t tlen;
    const char* term = file_terminator(st, &tlen);
    if (enc_ != FENC_ANSI) {
        // An ANSI line for a UTF-16 file: convert it first.
        std::wstring w;
        if (n) {
            const int k = MultiByteToWideChar(st->codePage, 0, s, static_cast<int>(n), nullptr, 0);
            w.resize(static_cast<size_t>(k > 0 ? k : 0));
            if (k > 0) MultiByteToWideChar(st->codePage, 0, s, static_cast<int>(n), &w[0], k);
        }
        return write(st, w.data(), w.size());
    }
    scratch_.assign(s, n);
    scratch_.append(term, tlen);
    return put(scratch_.data(), scratch_.size());
}

bool LineWriter::write(State* st, const wchar_t* s, size_t n) {
    size_t tlen;
    const char* term = file_terminator(st, &tlen);
    if (enc_ == FENC_ANSI) {
        std::string a;
        if (n) {
            const int k = WideCharToMultiByte(st->codePage, 0, s, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
            a.resize(static_cast<size_t>(k > 0 ? k : 0));
            if (k > 0) WideCharToMultiByte(st->codePage, 0, s, static_cast<int>(n), &a[0], k, nullptr, nullptr);
        }
        return write(st, a.data(), a.size());
    }
    const bool be = enc_ == FENC_UTF16BE;
    scratch_.clear();
    auto unit = [&](uint32_t u) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        scratch_.push_back(be ? hi : lo);
        scratch_.push_back(be ? lo : hi);
    };
    if (!marked_) unit(0xFEFF);
    scratch_.reserve(scratch_.size() + (n + 2) * 2);
    if (!be) scratch_.append(reinterpret_cast<const char*>(s), n * 2);
    else
        for (size_t i = 0; i < n; ++i) unit(s[i]);
    for (size_t i = 0; i < tlen; ++i) unit(static_cast<uint8_t>(term[i]));
    if (!put(scratch_.data(), scratch_.size())) return false;
    marked_ = true;
    return true;
}
