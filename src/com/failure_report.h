// Failure checkpoints and the two report dialogs.
//
// Operations that run foreign code leave checkpoint texts as they go, so a report (or a debugger
// looking at the module's memory) can tell which operation was at which step.
#pragma once

#include "platform/platform.h"

#include <atomic>

namespace brvst {

// Name of the operation in progress, e.g. "DllGetClassObject".
extern char FailureFunctionText[256];
// The last step that operation reached, e.g. "Searching for object".
extern char FailurePointText[256];
// The Name of the plug-in record whose plug-in caused the last serious error, kept for a
// debugger or a crash dump. Each report shows the name it was given, not this.
extern std::atomic<const char*> ErrorPluginName;

// Starts a checkpoint sequence: both texts are overwritten.
void SetFailureFunction(const char* function, const char* point);
// One checkpoint: the point text is overwritten with `point`.
void SetFailurePoint(const char* point);

// Copies both texts as they stand between two checkpoints.
void ReadFailureTexts(char (&function)[256], char (&point)[256]);

// Dialog 128, modal, without owner: the operation and the point it reached.
void ShowExceptionReport();
// Dialog 168, modal, without owner: the plug-in that failed during load.
void ShowSeriousErrorReport(const char* pluginName);

}  // namespace brvst
