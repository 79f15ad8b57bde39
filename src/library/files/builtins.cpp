// The files family's table of built-in functions.
#include "library/files/files.h"
#include "library/files/internal.h"
#include "keyword_ids.h"
#include <new>

namespace {

// The family works with standard strings and vectors; a failed allocation
// becomes an error number instead of leaving the interpreter.
template <BuiltinFn F, uint16_t E = 1588>
void guarded(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    try {
        F(st, nargs, result, args, wide);
    } catch (const std::bad_alloc&) {
        st->err = E;
    }
}

}  // namespace

extern const BuiltinEntry g_fileBuiltins[] = {
    {KW_DIRATTRGET, guarded<fn_dirattrget>},
    {KW_DIRATTRGETEX, guarded<fn_dirattrgetex>},
    {KW_DIRATTRSET, guarded<fn_dirattrset>},
    {KW_DIRATTRSETEX, guarded<fn_dirattrsetex>},
    {KW_DIRCHANGE, guarded<fn_dirchange>},
    {KW_DIREXIST, guarded<fn_direxist>},
    {KW_DIRGET, guarded<fn_dirget>},
    {KW_DIRHOME, guarded<fn_dirhome>},
    {KW_DIRINFOTOARRAY, guarded<fn_dirinfotoarray>},
    {KW_DIRITEMIZE, guarded<fn_diritemize, 3397>},
    {KW_DIRMAKE, guarded<fn_dirmake>},
    {KW_DIRREMOVE, guarded<fn_dirremove>},
    {KW_DIRRENAME, guarded<fn_dirrename>},
    {KW_DIRSIZE, guarded<fn_dirsize>},
    {KW_DIRWINDOWS, guarded<fn_dirwindows>},
    {KW_DISKEXIST, guarded<fn_diskexist>},
    {KW_DISKFREE, guarded<fn_diskfree>},
    {KW_DISKINFO, guarded<fn_diskinfo>},
    {KW_DISKSCAN, guarded<fn_diskscan>},
    {KW_DISKSIZE, guarded<fn_disksize>},
    {KW_DISKVOLINFO, guarded<fn_diskvolinfo>},
    {KW_FILEAPPEND, guarded<fn_fileappend>},
    {KW_FILEATTRGET, guarded<fn_fileattrget>},
    {KW_FILEATTRGETEX, guarded<fn_fileattrgetex>},
    {KW_FILEATTRSET, guarded<fn_fileattrset>},
    {KW_FILEATTRSETEX, guarded<fn_fileattrsetex>},
    {KW_FILEBASENAME, guarded<fn_filebasename>},
    {KW_FILECLOSE, guarded<fn_fileclose>},
    {KW_FILECOMPARE, guarded<fn_filecompare>},
    {KW_FILECOPY, guarded<fn_filecopy>},
    {KW_FILECOPYATTR, guarded<fn_filecopyattr>},
    {KW_FILECREATETEMP, guarded<fn_filecreatetemp>},
    {KW_FILEDELETE, guarded<fn_filedelete>},
    {KW_FILEDIGEST, guarded<fn_filedigest>},
    {KW_FILEENCODING, guarded<fn_fileencoding>},
    {KW_FILEEXIST, guarded<fn_fileexist>},
    {KW_FILEEXTENSION, guarded<fn_fileextension>},
    {KW_FILEFULLNAME, guarded<fn_filefullname>},
    {KW_FILEGET, guarded<fn_fileget>},
    {KW_FILEGETW, guarded<fn_filegetw>},
    {KW_FILEINFOTOARRAY, guarded<fn_fileinfotoarray>},
    {KW_FILEITEMIZE, guarded<fn_fileitemize, 3397>},
    {KW_FILEITEMPATH, guarded<fn_fileitempath, 3397>},
    {KW_FILELOCATE, guarded<fn_filelocate>},
    {KW_FILELOCKITEMIZE, guarded<fn_filelockitemize>},
    {KW_FILEMAPNAME, guarded<fn_filemapname>},
    {KW_FILEMOVE, guarded<fn_filemove>},
    {KW_FILEMOVEATTR, guarded<fn_filemoveattr>},
    {KW_FILENAMEEVAL1, guarded<fn_filenameeval1>},
    {KW_FILENAMEEVAL2, guarded<fn_filenameeval2>},
    {KW_FILENAMELONG, guarded<fn_filenamelong>},
    {KW_FILENAMESHORT, guarded<fn_filenameshort>},
    {KW_FILEOPEN, guarded<fn_fileopen>},
    {KW_FILEPATH, guarded<fn_filepath>},
    {KW_FILEPURGE, guarded<fn_filepurge>},
    {KW_FILEPUT, guarded<fn_fileput>},
    {KW_FILEPUTW, guarded<fn_fileputw>},
    {KW_FILEREAD, guarded<fn_fileread>},
    {KW_FILERENAME, guarded<fn_filerename>},
    {KW_FILEROOT, guarded<fn_fileroot>},
    {KW_FILESIZE, guarded<fn_filesize>},
    {KW_FILESIZEEX, guarded<fn_filesizeex>},
    {KW_FILETIMECODE, guarded<fn_filetimecode>},
    {KW_FILETIMEGET, guarded<fn_filetimeget>},
    {KW_FILETIMEGETEX, guarded<fn_filetimegetex>},
    {KW_FILETIMESET, guarded<fn_filetimeset>},
    {KW_FILETIMESETEX, guarded<fn_filetimesetex>},
    {KW_FILETIMETOUCH, guarded<fn_filetimetouch>},
    {KW_FILEVERINFO, guarded<fn_fileverinfo>},
    {KW_FILEWRITE, guarded<fn_filewrite>},
    {KW_FILEYMDHMS, guarded<fn_fileymdhms>},
    {0, nullptr},
};
