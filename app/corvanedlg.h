// The main dialog's logic: the folder shown and the folder stored, OK, Cancel, Browse,
// the tray commands and the About box. The window, the tray icon, the folder picker and
// the streaming server sit behind interfaces, so the logic runs without a window system.
#pragma once

#include <string>
#include <vector>

// The window side of the main dialog.
class IDlgWindow {
public:
    virtual ~IDlgWindow() = default;
    // Shows the text in the sunken folder field.
    virtual void SetFolderText(const std::string& strFolder) = 0;
    // Shows the line that says the folder shown holds the daemon's settings file, which
    // STBs cannot reach (empty: no line). A window without that line ignores it.
    virtual void SetShareNote(const std::string& /*strNote*/) {}
    // Shows the code page chosen for names on the STB (empty: "Unchanged"). A window
    // without that row ignores it.
    virtual void SetCharsetChoice(const std::string& /*strCharset*/) {}
    // Shows and activates the dialog in its current size and position (a minimised
    // dialog stays minimised).
    virtual void ShowDialog() = 0;
    // Takes the dialog off the screen; the program goes on in the tray.
    virtual void HideDialog() = 0;
    // Runs the folder picker opened on strStart. False when the user cancelled.
    virtual bool PickFolder(const std::string& strStart, std::string& strChosen) = 0;
    // Runs the About box until the user closes it.
    virtual void RunAboutBox() = 0;
    // Opens the tray's "App" menu at the cursor.
    virtual void ShowTrayMenu() = 0;
    // Ends the dialog: the program shuts down.
    virtual void EndDialog() = 0;
};

// Restarting and stopping the streaming server.
class IServerControl {
public:
    virtual ~IServerControl() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
};

enum class TrayEvent { LeftButtonUp, RightButtonUp, Other };

// The code pages the dialog offers for names on the STB, the common ones this system can
// convert; "Unchanged" (the empty string) comes before them.
std::vector<std::string> CharsetChoices();

class CCorvaneDlg {
public:
    // Reads the stored folder and code page.
    CCorvaneDlg(IDlgWindow& window, IServerControl& server);

    // Fills the folder field and the code page row with the stored ones.
    void OnInitDialog();
    // Stores the folder and code page shown when either differs from the stored ones,
    // restarts the streaming server (on every OK) and hides the dialog.
    void OnOK();
    // Shows the stored folder and code page again and hides the dialog.
    void OnCancel();
    // Lets the user pick another folder; shown only, stored by OK.
    void OnBrowse();
    // The user chose a code page for names on the STB (empty: unchanged); stored by OK.
    void OnCharsetChosen(const std::string& strCharset);
    void OnTrayNotify(TrayEvent event);
    void OnTrayOpen();
    // One About box at a time.
    void OnAppAbout();
    // Stops the streaming server and ends the dialog, dropping an unconfirmed folder.
    void OnAppExit();

    bool m_bAboutOpen = false;
    std::string m_strFolder;
    std::string m_strCharset;  // the code page shown, stored with the folder

private:
    // Shows m_strFolder, with the line about the settings file when it holds it.
    void ShowFolder();

    IDlgWindow& m_Window;
    IServerControl& m_Server;
};
