// The Windows program's assembly: the engine, the windows and their commands wired
// together, kept in this one file pair so that main_win32.cpp stays a thin start-up.
#pragma once

#include <string>

#include "ui/creation.h"

namespace quillon::app::win32 {

// QUILLON_TRACE=1: start-up steps on stderr and message boxes answered at once, so the
// real executable can be driven by scripts (as the Linux program does).
bool Tracing();
void Trace(const std::string& line);
// A message box of the program (MB_OK), or only its trace line when tracing.
void ShowMessage(const std::string& caption, const std::string& text, unsigned style);

// Creates the windows of the edition the label names and runs the message loop until the
// main window closes.
void Run(const ui::BuildInfo& build);

}  // namespace quillon::app::win32
