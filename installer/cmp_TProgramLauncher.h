#pragma once
// The program launcher: starts a program with its parameters and waits for it.

#include "host/Classes.h"

#include <string>

namespace orvex {

enum TplShowMode { smNormal, smMaximized, smMinimized, smHide };

class TProgramLauncher : public TComponent {
public:
    using TComponent::TComponent;

    std::string Action = "Open";
    std::string FileName;   // Windows-form path of the program
    std::string Parameters; // its command line, split as Windows programs split it
    // How the program's window shows: our programs have no such window, so
    // the mode is kept and has no effect.
    TplShowMode ShowMode = smNormal;
    std::string StartDir; // empty: the current folder
    // How long to wait in milliseconds; -1 waits until the program ends.
    Integer Timeout = -1;
    bool Wait = true;

    // Starts FileName as a new process; with Wait, waits until it ends or
    // Timeout passes; then lets it go. A failed start raises
    // EProgramLauncherFailed with the text of its start-error code.
    void Execute();

    // The text of a start-error code.
    static std::string StartErrorText(Integer code);
};

} // namespace orvex
