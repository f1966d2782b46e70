// The shell's message boxes: a window system's boxes with the dialog, lines on standard
// error without one. Tests put their own in.
#pragma once

#include <string>

class IMessageBoxes {
public:
    enum class Icon { Error, Warning };
    virtual ~IMessageBoxes() = default;
    // Shows the text and returns once the user has dismissed it.
    virtual void Show(const std::string& strText, Icon eIcon) = 0;
};

// Message boxes as lines on standard error, for the headless daemon.
class CStderrBoxes : public IMessageBoxes {
public:
    void Show(const std::string& strText, Icon eIcon) override;
};
