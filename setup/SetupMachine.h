#pragma once
// The setup program on the emulated Windows machine: the machine's own
// folders, a development environment as its installation leaves it, the
// sources of the distribution, and a script of the user's steps for the
// headless backend.

#include "host/Classes.h"
#include "host/forms/Forms.h"

#include <functional>
#include <string>

namespace orvex {

class TMainForm;

// Creates the Windows, system and temporary folders of the emulated machine
// when missing.
void PrepareMachineFolders();

// Leaves on the emulated machine what an installed development environment
// (a TVCLProduct index) holds for the setup: its key with "RootDir" under
// HKEY_LOCAL_MACHINE, its package lists, library and palette keys under
// HKEY_CURRENT_USER, and its help configuration file. Answers "RootDir".
std::string EmulateDevelopmentEnvironment(int index);

// Writes the source of every install file of the definition into the source
// root (TMainForm::SourceRoot): the texts the wizard shows for "licence.txt"
// and "readme.txt", the project's own build output where one stands for the
// file (the engine library for "vekrun.bpl", the demonstration program for
// "OrvexEditor.exe", the demonstration databases the engine wrote at build
// time, the architecture notes for the help file, an engine unit's header
// for its compiled unit), else a small placeholder naming the file. Files already
// there are kept. projectDir and buildDir are native folders.
struct TDistributionSources {
    int Kept = 0;         // already there
    int FromProject = 0;  // copied from the project or its build
    int Placeholders = 0; // written as placeholders
};
TDistributionSources PrepareDistributionSources(TMainForm* form, const std::string& projectDir,
                                                const std::string& buildDir);

// A script of the user's steps on the headless backend, one step a line:
//   click [Page.]Control      clicks a control of the page shown (a check
//                             box toggles); with Page, the page shown must be
//                             of that class
//   set [Page.]Control Text   the user edits the control's text to Text
//   answer N                  answers the next message box with N
//   folder Path               chooses Path in the next folder browser
//   cancelfolder              cancels the next folder browser
// Blank lines and lines beginning with "#" are skipped. Every page a step
// runs on is reported to onPage. An unknown step raises EHeadlessScript.
void QueueSetupScript(const std::string& script, std::function<void(const std::string& page)> onPage);

// The class name of the page a waiting form shows (the wizard's container:
// its current page), else the form's name.
std::string ShownPageName(TCustomForm* form);

} // namespace orvex
