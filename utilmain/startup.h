// Program start-up for a program whose window is a TUtilMainForm.
#pragma once

#include <functional>

class TUtilMainForm;

// Program start-up: application object, title "Kesl", the one main window
// made by Create, the event loop. Returns the exit code.
int RunApplication(int& Argc, char** Argv, const std::function<TUtilMainForm*()>& Create);
