// A host window with a probe's editor open in it, as the property page opens it.
#pragma once

#include "probe_harness.h"
#include "vsthost/parameter_panel.h"

#include <string>

namespace brvst::test {

// Delivers what the thread's message queue holds now (posted messages, painting, due timers).
void PumpMessages();

struct OpenEditorHost {
  explicit OpenEditorHost(const std::string& probeFile);
  ~OpenEditorHost();
  OpenEditorHost(const OpenEditorHost&) = delete;
  OpenEditorHost& operator=(const OpenEditorHost&) = delete;

  VstPlugInstance& plugin() const { return probe.plugin(); }
  HWND editor() const { return probe.plugin().EditorWindowHandle(); }
  PanelWnd* panel() const { return static_cast<PanelWnd*>(probe.plugin().panel); }
  // The parameter values of the probe's setParameter calls since the last Reset.
  std::vector<float> SetParameterValues() const;

  ProbeFilter probe;
  HWND host = nullptr;
};

}  // namespace brvst::test
