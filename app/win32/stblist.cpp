#include "app/win32/stblist.h"

#include <algorithm>
#include <string>

#include "app/win32/wintext.h"

namespace {

enum StbColumn { kColAddress, kColSince, kColDoing, kColProgress, kColumns };

int TextWidth(HWND hList, const wchar_t* psz)
{
    return static_cast<int>(SendMessageW(hList, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(psz)));
}

void SetCell(HWND hList, int nRow, int nCol, const std::string& strText)
{
    std::wstring wstr = WideText(strText);
    LVITEMW item{};
    item.iSubItem = nCol;
    item.pszText = wstr.data();
    SendMessageW(hList, LVM_SETITEMTEXTW, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void CStbList::Attach(HWND hList)
{
    m_hList = hList;
    SendMessageW(hList, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                 LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    // Widths from the list's own font: an address, a time and a usual transfer's text
    // fit whole; what is being done has the rest.
    const wchar_t* const apszHeads[kColumns] = {L"STB", L"Since", L"Doing", L"Progress"};
    int acx[kColumns] = {TextWidth(hList, L"192.168.100.100") + 12, std::max(TextWidth(hList, L"00:00"), TextWidth(hList, L"Since")) + 14, 0,
                         TextWidth(hList, L"43 % of 2.8 GB, 30.1 MB/s") + 16};
    RECT rc;
    GetClientRect(hList, &rc);
    acx[kColDoing] = rc.right - acx[kColAddress] - acx[kColSince] - acx[kColProgress];
    if (acx[kColDoing] < TextWidth(hList, L"receiving folder"))
        acx[kColDoing] = TextWidth(hList, L"receiving folder");
    for (int nCol = 0; nCol < kColumns; ++nCol) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<wchar_t*>(apszHeads[nCol]);
        col.cx = acx[nCol];
        col.iSubItem = nCol;
        SendMessageW(hList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(nCol), reinterpret_cast<LPARAM>(&col));
    }
}

void CStbList::SetCount(size_t nRows)
{
    const int nWant = static_cast<int>(nRows);
    int nHave = static_cast<int>(SendMessageW(m_hList, LVM_GETITEMCOUNT, 0, 0));
    while (nHave > nWant)
        SendMessageW(m_hList, LVM_DELETEITEM, static_cast<WPARAM>(--nHave), 0);
    while (nHave < nWant) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = nHave++;
        item.pszText = const_cast<wchar_t*>(L"");
        SendMessageW(m_hList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    m_arrRows.resize(nRows);
}

void CStbList::SetRow(size_t nRow, const CStbRow& row)
{
    if (nRow >= m_arrRows.size())
        return;
    m_arrRows[nRow] = row;
    const int n = static_cast<int>(nRow);
    SetCell(m_hList, n, kColAddress, row.strAddress);
    SetCell(m_hList, n, kColSince, row.strSince);
    SetCell(m_hList, n, kColDoing, row.strDoing);
    SetCell(m_hList, n, kColProgress, row.strProgress);
    // The bar may change where the text does not (the text is cut to the column).
    SendMessageW(m_hList, LVM_REDRAWITEMS, static_cast<WPARAM>(n), static_cast<LPARAM>(n));
}

LRESULT CStbList::OnCustomDraw(const NMLVCUSTOMDRAW& draw) const
{
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        const size_t nRow = draw.nmcd.dwItemSpec;
        if (draw.iSubItem != kColProgress || nRow >= m_arrRows.size() || m_arrRows[nRow].nPercent < 0)
            return CDRF_DODEFAULT;
        RECT rc{};
        rc.top = kColProgress;
        rc.left = LVIR_BOUNDS;
        SendMessageW(m_hList, LVM_GETSUBITEMRECT, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&rc));
        FillRect(draw.nmcd.hdc, &rc, GetSysColorBrush(COLOR_WINDOW));
        const HGDIOBJ hOldFont =
            SelectObject(draw.nmcd.hdc, reinterpret_cast<HGDIOBJ>(SendMessageW(m_hList, WM_GETFONT, 0, 0)));
        DrawProgressCell(draw.nmcd.hdc, rc, m_arrRows[nRow].nPercent, WideText(m_arrRows[nRow].strProgress).c_str());
        SelectObject(draw.nmcd.hdc, hOldFont);
        return CDRF_SKIPDEFAULT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void DrawProgressCell(HDC hDc, RECT rc, int nPercent, const wchar_t* pszText)
{
    InflateRect(&rc, -2, -1);
    if (rc.right <= rc.left || rc.bottom <= rc.top)
        return;
    nPercent = nPercent < 0 ? 0 : nPercent > 100 ? 100 : nPercent;
    RECT rcInside = rc;
    InflateRect(&rcInside, -1, -1);
    RECT rcDone = rcInside;
    rcDone.right = rcInside.left + (rcInside.right - rcInside.left) * nPercent / 100;
    RECT rcLeft = rcInside;
    rcLeft.left = rcDone.right;
    FillRect(hDc, &rcDone, GetSysColorBrush(COLOR_HIGHLIGHT));
    FillRect(hDc, &rcLeft, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(hDc, &rc, GetSysColorBrush(COLOR_BTNSHADOW));
    const int nOldMode = SetBkMode(hDc, TRANSPARENT);
    const COLORREF crOld = GetTextColor(hDc);
    // The text once in each colour, each clipped to its part of the bar.
    const struct {
        const RECT* pClip;
        int nColour;
    } aParts[] = {{&rcDone, COLOR_HIGHLIGHTTEXT}, {&rcLeft, COLOR_WINDOWTEXT}};
    for (const auto& part : aParts) {
        if (part.pClip->right <= part.pClip->left)
            continue;
        const int nSaved = SaveDC(hDc);
        IntersectClipRect(hDc, part.pClip->left, part.pClip->top, part.pClip->right, part.pClip->bottom);
        SetTextColor(hDc, GetSysColor(part.nColour));
        RECT rcText = rcInside;
        DrawTextW(hDc, pszText, -1, &rcText, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        RestoreDC(hDc, nSaved);
    }
    SetTextColor(hDc, crOld);
    SetBkMode(hDc, nOldMode);
}
