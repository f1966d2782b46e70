// The About box (dialog 100): the icon, "Corvane, Version N" and OK.
#pragma once

#include <windows.h>

// Runs the About box modally over hOwner until the user closes it.
void RunCorvaneAboutBox(HWND hOwner);
