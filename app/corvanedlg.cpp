#include "app/corvanedlg.h"

#include "app/ownfiles.h"
#include "app/settings.h"
#include "app/status/statustext.h"
#include "fs/names.h"

std::vector<std::string> CharsetChoices()
{
    std::vector<std::string> choices;
    static const char* const s_apszCommon[] = {"CP1252", "ISO-8859-1", "ISO-8859-15", "CP1250", "CP1251",
                                               "CP949",  "CP932",      "GBK",         "BIG5"};
    for (const char* psz : s_apszCommon) {
        if (CheckStbCodePage(psz) == 0)
            choices.emplace_back(psz);
    }
    return choices;
}

CCorvaneDlg::CCorvaneDlg(IDlgWindow& window, IServerControl& server) : m_Window(window), m_Server(server)
{
    CShareSetting setting = GetShareSetting();
    m_strFolder = std::move(setting.strFolder);
    m_strCharset = std::move(setting.strCharset);
}

void CCorvaneDlg::ShowFolder()
{
    m_Window.SetFolderText(m_strFolder);
    std::string strNote = OwnFilesNote(m_strFolder);
    if (!strNote.empty()) {
        strNote[0] = static_cast<char>(strNote[0] - 'a' + 'A');  // a sentence of its own
        strNote += '.';
    }
    m_Window.SetShareNote(strNote);
}

void CCorvaneDlg::OnInitDialog()
{
    ShowFolder();
    m_Window.SetCharsetChoice(m_strCharset);
}

void CCorvaneDlg::OnOK()
{
    StoreShareSetting(CShareSetting{m_strFolder, m_strCharset});  // writes only what changed
    m_Server.Start();
    m_Window.HideDialog();
}

void CCorvaneDlg::OnCancel()
{
    CShareSetting stored = GetShareSetting();
    if (stored.strFolder != m_strFolder) {
        m_strFolder = std::move(stored.strFolder);
        ShowFolder();
    }
    if (stored.strCharset != m_strCharset) {
        m_strCharset = std::move(stored.strCharset);
        m_Window.SetCharsetChoice(m_strCharset);
    }
    m_Window.HideDialog();
}

void CCorvaneDlg::OnCharsetChosen(const std::string& strCharset) { m_strCharset = strCharset; }

void CCorvaneDlg::OnBrowse()
{
    std::string strChosen;
    if (!m_Window.PickFolder(m_strFolder, strChosen) || strChosen.empty())
        return;
    m_strFolder = NormaliseFolder(strChosen);
    ShowFolder();
}

void CCorvaneDlg::OnTrayNotify(TrayEvent event)
{
    if (event == TrayEvent::RightButtonUp)
        m_Window.ShowTrayMenu();
    else if (event == TrayEvent::LeftButtonUp)
        m_Window.ShowDialog();
}

void CCorvaneDlg::OnTrayOpen() { m_Window.ShowDialog(); }

void CCorvaneDlg::OnAppAbout()
{
    if (m_bAboutOpen)
        return;
    m_bAboutOpen = true;
    m_Window.RunAboutBox();
    m_bAboutOpen = false;
}

void CCorvaneDlg::OnAppExit()
{
    m_Server.Stop();
    m_Window.EndDialog();
}

void CCorvaneDlg::OnStatus(const CStatusSnapshot& snap)
{
    std::vector<std::string> arrReach = ReachLines(snap);
    if (!m_bStatusShown || arrReach != m_arrReach) {
        m_arrReach = std::move(arrReach);
        m_Window.SetReachLines(m_arrReach);
    }
    std::vector<CStbRow> arrRows;
    arrRows.reserve(snap.stbs.size());
    for (const CStbStatus& stb : snap.stbs)
        arrRows.push_back(StbRow(stb));
    if (!m_bStatusShown || arrRows.size() != m_arrRows.size())
        m_Window.SetStbCount(arrRows.size());
    for (size_t i = 0; i < arrRows.size(); ++i) {
        if (i >= m_arrRows.size() || arrRows[i] != m_arrRows[i])
            m_Window.SetStbRow(i, arrRows[i]);
    }
    m_arrRows = std::move(arrRows);
    std::string strTip = TooltipText(snap);
    if (!m_bStatusShown || strTip != m_strTip) {
        m_strTip = std::move(strTip);
        m_Window.SetTrayTip(m_strTip);
    }
    m_bStatusShown = true;
}
