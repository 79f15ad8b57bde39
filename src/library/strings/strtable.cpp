// The string family's built-in table: token id -> implementation.
#include "dispatch.h"
#include "keyword_ids.h"
#include "library/strings/strings.h"

#define STRING_FN(name) void fn_##name(State*, int, Cell*, Cell*, bool);
STRING_FN(strlen) STRING_FN(strcharcount) STRING_FN(strbytecount) STRING_FN(strcat)
STRING_FN(strcmp) STRING_FN(stricmp) STRING_FN(strupper) STRING_FN(strlower)
STRING_FN(strindex) STRING_FN(strindexnc) STRING_FN(strscan) STRING_FN(strcnt)
STRING_FN(strsub) STRING_FN(strreplace)
STRING_FN(strfill) STRING_FN(strfix) STRING_FN(strfixchars) STRING_FN(strfixleft) STRING_FN(strfixcharsl)
STRING_FN(strfixbytes) STRING_FN(strfixbytesl)
STRING_FN(strtrim) STRING_FN(strtrimchar) STRING_FN(strclean)
STRING_FN(strinsert) STRING_FN(stroverlay)
STRING_FN(strindexwild) STRING_FN(strlenwild) STRING_FN(strsubwild) STRING_FN(strtypeinfo)
STRING_FN(char2num) STRING_FN(num2char) STRING_FN(chrgetcodepage) STRING_FN(chrsetcodepage)
STRING_FN(chrhextostring) STRING_FN(chrhextounicode) STRING_FN(chrstringtohex) STRING_FN(chrunicodetohex)
STRING_FN(chrstringtounicode) STRING_FN(chrunicodetostring)
#undef STRING_FN

extern const BuiltinEntry g_stringBuiltins[] = {
    {KW_STRLEN, fn_strlen},
    {KW_STRCHARCOUNT, fn_strcharcount},
    {KW_STRBYTECOUNT, fn_strbytecount},
    {KW_STRCAT, fn_strcat},
    {KW_STRCMP, fn_strcmp},
    {KW_STRICMP, fn_stricmp},
    {KW_STRUPPER, fn_strupper},
    {KW_STRLOWER, fn_strlower},
    {KW_STRINDEX, fn_strindex},
    {KW_STRINDEXNC, fn_strindexnc},
    {KW_STRSCAN, fn_strscan},
    {KW_STRCNT, fn_strcnt},
    {KW_STRSUB, fn_strsub},
    {KW_STRREPLACE, fn_strreplace},
    {KW_STRFILL, fn_strfill},
    {KW_STRFIX, fn_strfix},
    {KW_STRFIXCHARS, fn_strfixchars},
    {KW_STRFIXLEFT, fn_strfixleft},
    {KW_STRFIXCHARSL, fn_strfixcharsl},
    {KW_STRFIXBYTES, fn_strfixbytes},
    {KW_STRFIXBYTESL, fn_strfixbytesl},
    {KW_STRTRIM, fn_strtrim},
    {KW_STRTRIMCHAR, fn_strtrimchar},
    {KW_STRCLEAN, fn_strclean},
    {KW_STRINSERT, fn_strinsert},
    {KW_STROVERLAY, fn_stroverlay},
    {KW_STRINDEXWILD, fn_strindexwild},
    {KW_STRLENWILD, fn_strlenwild},
    {KW_STRSUBWILD, fn_strsubwild},
    {KW_STRTYPEINFO, fn_strtypeinfo},
    {KW_CHAR2NUM, fn_char2num},
    {KW_NUM2CHAR, fn_num2char},
    {KW_CHRGETCODEPAGE, fn_chrgetcodepage},
    {KW_CHRSETCODEPAGE, fn_chrsetcodepage},
    {KW_CHRHEXTOSTRING, fn_chrhextostring},
    {KW_CHRHEXTOUNICODE, fn_chrhextounicode},
    {KW_CHRSTRINGTOHEX, fn_chrstringtohex},
    {KW_CHRUNICODETOHEX, fn_chrunicodetohex},
    {KW_CHRSTRINGTOUNICODE, fn_chrstringtounicode},
    {KW_CHRUNICODETOSTRING, fn_chrunicodetostring},
    {0, nullptr},
};

// Built-ins that only read their arguments (through Env::text and the
// number fields), so they may be given a variable's string without a copy.
extern const uint32_t g_stringReaders[] = {
    KW_STRLEN, KW_STRCHARCOUNT, KW_STRCMP, KW_STRICMP, KW_STRUPPER, KW_STRLOWER,
    KW_STRINDEX, KW_STRINDEXNC, KW_STRSCAN, KW_STRCNT, KW_STRSUB, KW_STRREPLACE,
    KW_STRTRIM, KW_STRTRIMCHAR, KW_STRCLEAN, 0,
};

// Built-ins that read their own argument list.
extern const SelfParsingEntry g_stringSelfParsers[] = {
    {KW_STRCAT, strcat_parse},
    {0, nullptr},
};
