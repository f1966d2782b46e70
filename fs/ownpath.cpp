#include "fs/ownpath.h"

#include <string_view>
#include <vector>

#include "fs/path.h"
#include "net/xferctx.h"
#include "platform/ownfiles.h"

namespace {

inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The names of a path, "." and empty ones left out. (The mapping turned every '\' of an
// STB path into '/'; Windows takes both as separators.)
std::vector<std::string_view> Names(std::string_view path)
{
    std::vector<std::string_view> names;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = i;
        while (j < path.size() && !IsSeparator(path[j]))
            ++j;
        const std::string_view name = path.substr(i, j - i);
        if (!name.empty() && name != ".")
            names.push_back(name);
        i = j + 1;
    }
    return names;
}

// The part of the path below the folder as the text reads; false when it does not begin
// with the folder.
bool TextBelow(std::string_view folder, std::string_view path, std::string_view& rel)
{
    while (folder.size() > 1 && IsSeparator(folder.back()))
        folder.remove_suffix(1);
    if (folder.empty() || path.substr(0, folder.size()) != folder)
        return false;
    if (path.size() > folder.size() && !IsSeparator(path[folder.size()]) && !IsSeparator(folder.back()))
        return false;  // "/srv/media2" does not lie in "/srv/media"
    rel = path.substr(folder.size());
    return true;
}

// True when the names are the own file's place (use Open), or that place or a folder on
// the way to it (use Change); for an own folder, also any place below it.
bool NamesReach(const std::vector<std::string_view>& names, const std::vector<std::string_view>& own, OwnUse use,
                bool bOwnFolder)
{
    if ((names.size() > own.size() && !bOwnFolder) || (names.size() < own.size() && use != OwnUse::Change))
        return false;
    for (size_t i = 0; i < names.size() && i < own.size(); ++i) {
        if (!plat::SameEntryName(names[i], own[i]))
            return false;
    }
    return true;
}

// True when the path's names below the shared folder reach an own file's place there, as
// the own file's path reads or as it really lies.
bool ReachesByName(const plat::CShare& share, const plat::COwnFiles& own, const std::string& strLocal, OwnUse use)
{
    std::string_view rel;
    if (!TextBelow(share.strRoot, strLocal, rel))
        return false;
    const std::vector<std::string_view> names = Names(rel);
    // Only an own file's last name can be its place (the folders on the way are ours to
    // check only for a change).
    if (use == OwnUse::Open && (names.empty() || !own.HasName(names.back())))
        return false;
    for (const std::string& strOwn : *share.pOwnFiles) {
        const bool bOwnFolder = !strOwn.empty() && IsSeparator(strOwn.back());
        std::string_view ownRel;
        if (TextBelow(share.strRoot, strOwn, ownRel)) {
            const std::vector<std::string_view> ownNames = Names(ownRel);
            bool bClimbs = false;
            for (std::string_view name : ownNames)
                bClimbs = bClimbs || name == "..";
            if (!bClimbs && NamesReach(names, ownNames, use, bOwnFolder))
                return true;
        }
        std::string strReal;
        if (plat::PositionBelow(share.strRoot, strOwn, strReal) && NamesReach(names, Names(strReal), use, bOwnFolder))
            return true;
    }
    return false;
}

// Where a copy or move lands: inside the destination when that is an existing folder (as
// the shell operation decides), otherwise the destination itself.
std::string Landing(const plat::CShare& share, std::string strFrom, std::string strTo)
{
    while (strFrom.size() > 1 && IsSeparator(strFrom.back()))
        strFrom.pop_back();
    while (strTo.size() > 1 && IsSeparator(strTo.back()))
        strTo.pop_back();
    if (!IsDirectoryPath(share, strTo))
        return strTo;
    size_t n = strFrom.size();
    while (n > 0 && !IsSeparator(strFrom[n - 1]))
        --n;
    strTo += '/';
    strTo.append(strFrom, n, std::string::npos);
    return strTo;
}

}  // namespace

bool IsDaemonOwnPath(const plat::CShare& share, const std::string& strLocal, OwnUse use)
{
    if (!share.pOwnFiles || share.pOwnFiles->empty())
        return false;
    const plat::COwnFiles own(share);
    return ReachesByName(share, own, strLocal, use) || own.Reaches(strLocal, use == OwnUse::Change);
}

int MapStbPathFor(const CSess& sess, CXferCtx& ctx, char* pszStbPath, std::string& strLocal, OwnUse use)
{
    plat::CShare earlier = ctx.share;  // what a refused path leaves in place
    if (MapStbPath(sess, ctx, pszStbPath, strLocal) != 0)
        return -1;
    if (!IsDaemonOwnPath(ctx.share, strLocal, use))
        return 0;
    ctx.share = std::move(earlier);
    strLocal.clear();
    return -1;
}

bool IsOwnCopyMove(const CXferCtx& ctx, bool bMove)
{
    if (!ctx.share.pOwnFiles || ctx.share.pOwnFiles->empty())
        return false;
    if (IsDaemonOwnPath(ctx.share, ctx.strPath, bMove ? OwnUse::Change : OwnUse::Open))
        return true;
    return IsDaemonOwnPath(ctx.share, Landing(ctx.share, ctx.strPath, ctx.strPath2), OwnUse::Change);
}
