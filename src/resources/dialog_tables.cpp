// Dialogs 128, 163 and 168 as brvst.rc has them, with the styles its DIALOG statements give each
// control. The tests compare both forms, control by control.
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "resources/resource_tables.h"

#include <iterator>

namespace brvst::resources {
namespace {

using platform::DialogItemTemplate;
using platform::DialogTemplate;

constexpr uint16_t kStatic = static_cast<uint16_t>(IDC_STATIC);

// What DEFPUSHBUTTON, LTEXT and a CONTROL of class "Edit" make of their styles.
constexpr uint32_t kDefaultButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr uint32_t kText = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
constexpr uint32_t kReportEdit =
    WS_CHILD | WS_VISIBLE | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY;
// EDITTEXT adds a border and a tab stop to the styles it is given.
constexpr uint32_t kNameEdit =
    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
constexpr uint32_t kNameDialog =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
constexpr uint32_t kReportDialog =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;

const DialogItemTemplate kExceptionReport[] = {
    {"Button", "OK", IDOK, kDefaultButton, 0, 74, 153, 50, 14},
    {"Static",
     "Brimley VST Adapter encountered an exception while attempting to perform the function:-",
     kStatic, kText, 0, 15, 9, 173, 19},
    {"Edit", "", IDC_REPORT_TEXT1, kReportEdit, 0, 15, 29, 174, 12},
    {"Static", "The failure point was reported as follows:-", kStatic, kText, 0, 15, 45, 173, 11},
    {"Edit", "", IDC_REPORT_TEXT2, kReportEdit, 0, 15, 58, 174, 12},
    {"Static",
     "The Configuration Wizard has trapped this error, and will attempt to continue normally. "
     "However, it may have become unstable - if this is the case, reboot your system and re-run "
     "this Wizard.",
     kStatic, kText, 0, 15, 75, 173, 36},
    {"Static",
     "If you continue to get this error, please contact Brimley support so the cause of this "
     "error can be resolved.",
     kStatic, kText, 0, 16, 116, 173, 30},
};

const DialogItemTemplate kSeriousError[] = {
    {"Button", "OK", IDOK, kDefaultButton, 0, 44, 194, 117, 14},
    {"Static", "The following plug-in:-", kStatic, kText, 0, 15, 6, 167, 9},
    {"Edit", "", IDC_REPORT_TEXT1, kReportEdit, 0, 15, 17, 174, 12},
    {"Static", "caused a serious error during load.  The cause may be one of the following:-",
     kStatic, kText, 0, 15, 31, 173, 17},
    {"Static", "* The plug-in is not installed correctly.", kStatic, kText, 0, 16, 49, 118, 8},
    {"Static", "* Your computer is low on memory or other resources.", kStatic, kText, 0, 16, 59,
     174, 8},
    {"Static", "* There is a problem with the plug-in's copyprotection.", kStatic, kText, 0, 16, 69,
     174, 8},
    {"Static", "* The plug-in is incompatible with the VST Adapter.", kStatic, kText, 0, 16, 80,
     174, 8},
    {"Static",
     "The Configuration Wizard has disabled this plug-in in the Brimley VST Adapter, and will "
     "attempt to continue normally. However, it may have become unstable - if this is the case, "
     "reboot your system and re-run this Wizard.",
     kStatic, kText, 0, 15, 95, 173, 46},
    {"Static",
     "If you continue to get this error, please uninstall the plug-in in question, and contact "
     "both Brimley Support and the developer of the plug-in, so the cause of this error can be "
     "resolved.",
     kStatic, kText, 0, 16, 145, 173, 41},
};

const DialogItemTemplate kProgramName[] = {
    {"Button", "OK", IDOK, kDefaultButton, 0, 133, 8, 50, 14},
    {"Edit", "", IDC_PROGRAM_NAME, kNameEdit, 0, 7, 8, 115, 15},
};

}  // namespace

const DialogTemplate kDialogTemplates[] = {
    {IDD_EXCEPTION_REPORT, "Brimley VST Adapter - Exception", kReportDialog, 0, 0, 0, 206, 182, 8,
     "MS Sans Serif", kExceptionReport, std::size(kExceptionReport)},
    {IDD_PROGRAM_NAME, "Program name", kNameDialog, 0, 0, 0, 190, 31, 8, "MS Sans Serif",
     kProgramName, std::size(kProgramName)},
    {IDD_SERIOUS_ERROR, "Brimley VST Adapter: Serious error", kReportDialog, 0, 0, 0, 200, 215, 8,
     "MS Sans Serif", kSeriousError, std::size(kSeriousError)},
    {},
};

}  // namespace brvst::resources
