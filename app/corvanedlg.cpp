#include "app/corvanedlg.h"

#include "app/settings.h"

CCorvaneDlg::CCorvaneDlg(IDlgWindow& window, IServerControl& server) : m_Window(window), m_Server(server)
{
    m_strFolder = GetSharedFolder();
}

void CCorvaneDlg::OnInitDialog() { m_Window.SetFolderText(m_strFolder); }

void CCorvaneDlg::OnOK()
{
    if (GetSharedFolder() != m_strFolder)
        StoreSharedFolder(m_strFolder);
    m_Server.Start();
    m_Window.HideDialog();
}

void CCorvaneDlg::OnCancel()
{
    const std::string strStored = GetSharedFolder();
    if (strStored != m_strFolder) {
        m_strFolder = strStored;
        m_Window.SetFolderText(m_strFolder);
    }
    m_Window.HideDialog();
}

void CCorvaneDlg::OnBrowse()
{
    std::string strChosen;
    if (!m_Window.PickFolder(m_strFolder, strChosen) || strChosen.empty())
        return;
    m_strFolder = NormaliseFolder(strChosen);
    m_Window.SetFolderText(m_strFolder);
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
