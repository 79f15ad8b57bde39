// The registry family's table of built-in functions.
#include "library/registry/registry.h"
#include "library/registry/reg_internal.h"
#include "dispatch.h"
#include "keyword_ids.h"

extern const BuiltinEntry g_registryBuiltins[] = {
    {KW_REGAPP, reg::fn_regapp},
    {KW_REGCLOSEKEY, reg::fn_regclosekey},
    {KW_REGCONNECT, reg::fn_regconnect},
    {KW_REGCREATEKEY, reg::fn_regcreatekey},
    {KW_REGCREATEKEYEX, reg::fn_regcreatekeyex},
    {KW_REGDELETEKEY, reg::fn_regdeletekey},
    {KW_REGDELETELINK, reg::fn_regdeletelink},
    {KW_REGDELVALUE, reg::fn_regdelvalue},
    {KW_REGENTRYTYPE, reg::fn_regentrytype},
    {KW_REGEXISTKEY, reg::fn_regexistkey},
    {KW_REGEXISTVALUE, reg::fn_regexistvalue},
    {KW_REGLOADHIVE, reg::fn_regloadhive},
    {KW_REGOPENFLAGS, reg::fn_regopenflags},
    {KW_REGOPENKEY, reg::fn_regopenkey},
    {KW_REGOPENKEYEX, reg::fn_regopenkeyex},
    {KW_REGQUERYBIN, reg::fn_regquerybin},
    {KW_REGQUERYDWORD, reg::fn_regquerydword},
    {KW_REGQUERYEX, reg::fn_regqueryex},
    {KW_REGQUERYEXPSZ, reg::fn_regqueryexpsz},
    {KW_REGQUERYITEM, reg::fn_regqueryitem},
    {KW_REGQUERYKEY, reg::fn_regquerykey},
    {KW_REGQUERYKEYLASTWRITETIME, reg::fn_regquerykeylastwritetime},
    {KW_REGQUERYKEYS, reg::fn_regquerykeys},
    {KW_REGQUERYMULSZ, reg::fn_regquerymulsz},
    {KW_REGQUERYQWORD, reg::fn_regqueryqword},
    {KW_REGQUERYSTR, reg::fn_regquerystr},
    {KW_REGQUERYVALUE, reg::fn_regqueryvalue},
    {KW_REGSETBIN, reg::fn_regsetbin},
    {KW_REGSETDWORD, reg::fn_regsetdword},
    {KW_REGSETEX, reg::fn_regsetex},
    {KW_REGSETEXPSZ, reg::fn_regsetexpsz},
    {KW_REGSETMULSZ, reg::fn_regsetmulsz},
    {KW_REGSETQWORD, reg::fn_regsetqword},
    {KW_REGSETVALUE, reg::fn_regsetvalue},
    {KW_REGUNLOADHIVE, reg::fn_regunloadhive},
    {0, nullptr},
};
