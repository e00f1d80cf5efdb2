#include "com/failure_report.h"

#include "com/plugin_list.h"
#include "resources/resource_ids.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace brvst {

char FailureFunctionText[256];
char FailurePointText[256];
std::atomic<const char*> ErrorPluginName{""};

namespace {

// Checkpoints come from any thread. A text is replaced whole under this flag, so two writers
// never leave a mix of their texts; the critical section is a copy of at most 256 bytes.
std::atomic_flag textBusy = ATOMIC_FLAG_INIT;

class TextGuard {
 public:
  TextGuard() {
    while (textBusy.test_and_set(std::memory_order_acquire)) Sleep(0);
  }
  ~TextGuard() { textBusy.clear(std::memory_order_release); }
  TextGuard(const TextGuard&) = delete;
  TextGuard& operator=(const TextGuard&) = delete;
};

void CopyText(char (&target)[256], const char* text) {
  const size_t length = std::min(std::strlen(text), sizeof target - 1);
  std::memcpy(target, text, length);
  target[length] = '\0';
}

// The texts a report dialog shows in its edit boxes, by control id; the second may be absent.
struct ReportTexts {
  const char* first;
  const char* second;
};

INT_PTR CALLBACK ReportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* texts = reinterpret_cast<const ReportTexts*>(lParam);
      SetDlgItemTextA(dialog, IDC_REPORT_TEXT1, texts->first);
      if (texts->second != nullptr) SetDlgItemTextA(dialog, IDC_REPORT_TEXT2, texts->second);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) EndDialog(dialog, 0);
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void SetFailureFunction(const char* function, const char* point) {
  TextGuard guard;
  CopyText(FailureFunctionText, function);
  CopyText(FailurePointText, point);
}

void ReadFailureTexts(char (&function)[256], char (&point)[256]) {
  TextGuard guard;
  std::memcpy(function, FailureFunctionText, sizeof function);
  std::memcpy(point, FailurePointText, sizeof point);
}

void SetFailurePoint(const char* point) {
  TextGuard guard;
  CopyText(FailurePointText, point);
}

void ShowExceptionReport() {
  char function[256];
  char point[256];
  ReadFailureTexts(function, point);
  const ReportTexts texts{function, point};
  DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_EXCEPTION_REPORT), nullptr, ReportProc,
                  reinterpret_cast<LPARAM>(&texts));
}

void ShowSeriousErrorReport(const char* pluginName) {
  const char* name = pluginName != nullptr ? pluginName : "";
  ErrorPluginName.store(name);
  // The dialog shows the name given here: another thread's report may already have replaced
  // the module-wide one.
  const ReportTexts texts{name, nullptr};
  DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_SERIOUS_ERROR), nullptr, ReportProc,
                  reinterpret_cast<LPARAM>(&texts));
}

}  // namespace brvst
