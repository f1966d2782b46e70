// The directory download transaction: FC_DIR_DN_REQ lists a whole tree once, then the
// session serves only RS_FILE_DN_REQ, RS_DATA_REQ and RS_AFTER_MOVE_REQ until the
// connection ends.
#pragma once

#include <string>

#include "fs/names.h"
#include "net/cmdtable.h"
#include "platform/share.h"

// FC_DIR_DN_REQ: lists the tree and enters the sub-loop.
CmdNext HandleDirDnReq(CSess& sess, CXferCtx& ctx);
// RS_FILE_DN_REQ: opens an entry of the list by its index and answers it with its size.
CmdNext HandleRsFileDnReq(CSess& sess, CXferCtx& ctx);
// RS_DATA_REQ: a range of the entry opened last (see ServeDataRequest).
CmdNext HandleRsDataReq(CSess& sess, CXferCtx& ctx);
// RS_AFTER_MOVE_REQ: deletes what the STB has taken (see AfterMoveDir).
CmdNext HandleRsAfterMoveReq(CSess& sess, CXferCtx& ctx);

// Appends the tree below the folder (a local path ending with '/') to the session's
// list, parents before children, folder entries ending with '/', each relative to the
// session's base folder; adds the file sizes to m_ullTotal. Links to folders are not
// followed. A folder that cannot be read is left out. With names that convert, an entry
// the STB cannot be shown is left out too (a folder with everything below it), with its
// line. The tree is walked from a list of the folders being read, not by recursion,
// however deep it is. The list's room is charged to the session's transfer budget: when
// it would pass the budget, the walk stops and the list and the total are emptied, as a
// walk that found nothing; -1 then, 0 otherwise.
int ListTree(CSess& sess, const plat::CShare& share, const std::string& strDir, CStbNames* pNames = nullptr);

// Deletes the files among the first k entries of the list, in list order, then those
// of its folders that are empty, deepest first. The shared folder itself stays.
void AfterMoveDir(CSess& sess, const plat::CShare& share, int nCount);
