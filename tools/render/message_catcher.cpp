#include "tools/render/message_catcher.h"

namespace brvst::render {

std::vector<std::string> MessageCatcher::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> taken;
  taken.swap(seen_);
  return taken;
}

void MessageCatcher::Record(std::string line) {
  std::lock_guard<std::mutex> lock(mutex_);
  seen_.push_back(std::move(line));
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    line += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
  }
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

std::string DialogLine(HWND dialog) {
  char text[4096];
  GetWindowTextA(dialog, text, sizeof text);
  std::string texts;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char className[64];
    GetClassNameA(child, className, sizeof className);
    const bool isStatic = lstrcmpiA(className, "Static") == 0;
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
    if (!(isStatic || lstrcmpiA(className, "Edit") == 0)) continue;
    if (isStatic && (style & SS_TYPEMASK) == SS_ICON) continue;
    char childText[4096];
    GetWindowTextA(child, childText, sizeof childText);
    const std::string line = OneLine(childText);
    if (line.empty()) continue;
    if (!texts.empty()) texts += ' ';
    texts += line;
  }
  return OneLine(text) + ":" + (texts.empty() ? "" : " " + texts);
}

}  // namespace brvst::render
