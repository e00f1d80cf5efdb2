// How stop, pause and run reach the filter's stream bookkeeping. The plug-in stays resumed
// across them: only format changes and larger buffers resume it.
#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

namespace brvst {

STDMETHODIMP AdapterFilter::Stop() {
  // The stream lock waits for the buffer in progress; the base then takes the filter lock. The
  // two are never held together.
  ResetStreaming();
  return CBaseFilter::Stop();
}

void AdapterFilter::ResetStreaming() {
  CAutoLock lock(&StreamLock);
  Streaming = 0;
}

void AdapterFilter::StartStreaming() {
  CAutoLock lock(&StreamLock);
  Streaming = 1;
  AutomationClock = 0;
  AutomationCursor = AutomationPoints.begin();
  if (Plugin) Plugin->OnResumed();
}

}  // namespace brvst
