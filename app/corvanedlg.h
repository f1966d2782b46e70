// The main dialog's logic: the folder shown and the folder stored, OK, Cancel, Browse,
// the tray commands, the About box, and the daemon's status (where STBs reach this
// computer, the STBs connected and what each does, the tray icon's tooltip). The window,
// the tray icon, the folder picker and the streaming server sit behind interfaces, so the
// logic runs without a window system.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/statusrows.h"
#include "net/statusboard.h"

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
    // Shows the lines that say where STBs reach this computer, one line each. A window
    // without the status part ignores it, and the three below.
    virtual void SetReachLines(const std::vector<std::string>& /*lines*/) {}
    // The list of connected STBs gets nRows rows: rows are added or taken away at its end;
    // the ones kept stay as they are until SetStbRow changes them.
    virtual void SetStbCount(size_t /*nRows*/) {}
    // Shows row nRow (below the count last set) of the STB list.
    virtual void SetStbRow(size_t /*nRow*/, const CStbRow& /*row*/) {}
    // Shows the tray icon's tooltip.
    virtual void SetTrayTip(const std::string& /*strTip*/) {}
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

// Where a window reads the daemon's status: the latest snapshot, with the addresses and
// the port that STBs reach filled in. Called on the window's thread about once a second.
using StatusSource = std::function<CStatusSnapshot()>;

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
    // A new status: the window is told only what differs from what it shows (the
    // addresses, the rows of the STBs that changed, the count of rows, the tooltip), so
    // that a status that stays the same redraws nothing.
    void OnStatus(const CStatusSnapshot& snap);

    bool m_bAboutOpen = false;
    std::string m_strFolder;
    std::string m_strCharset;  // the code page shown, stored with the folder

private:
    // Shows m_strFolder, with the line about the settings file when it holds it.
    void ShowFolder();

    IDlgWindow& m_Window;
    IServerControl& m_Server;
    // What the window shows of the status; nothing before the first OnStatus.
    bool m_bStatusShown = false;
    std::vector<std::string> m_arrReach;
    std::vector<CStbRow> m_arrRows;
    std::string m_strTip;
};
