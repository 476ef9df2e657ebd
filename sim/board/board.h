// What the board's parts share: the task table, the module's current
// directory as the firmware records it, and the platform's turn.
#pragma once
#include <signal.h>
#include <stdint.h>

void boardFillEntryWords(void);
// Gives back every block the module still holds.
void boardReleaseBlocks(void);
// One turn of the platform: the next key, if any, to whatever handler the
// module's entry holds now.
void boardTurn(void);
// The firmware names the module's current directory after its prefix.
void boardSetDirectory(const char* diskPath);
// The module's page number, where it exports one (for the window's title).
uint32_t boardPageNumber(void);
// Reports who takes the keys, then ends the board with the code.
[[noreturn]] void boardFinish(int code);
void boardInstallFaultHandlers(void);
// When the host asks for it, waits until a debugger traces the board.
void boardAwaitDebugger(void);
// Tells the host where the module was when the signal came, from the handler's context.
void boardReportCrash(int signal, const siginfo_t* info, const void* context);
