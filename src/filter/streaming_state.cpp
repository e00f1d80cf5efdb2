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

STDMETHODIMP AdapterFilter::Pause() {
  const HRESULT hr = CBaseFilter::Pause();
  if (SUCCEEDED(hr)) stopped_.store(false);
  return hr;
}

STDMETHODIMP AdapterFilter::Run(REFERENCE_TIME start) {
  // From stopped the base pauses first, through Pause above.
  return CBaseFilter::Run(start);
}

void AdapterFilter::ResetStreaming() {
  CAutoLock lock(&StreamLock);
  Streaming = 0;
  // A graph stops downstream filters first, so upstream may still deliver: such samples are
  // refused, and the next run starts streaming afresh.
  stopped_.store(true);
}

void AdapterFilter::StartStreaming() {
  CAutoLock lock(&StreamLock);
  Streaming = 1;
  AutomationClock = 0;
  AutomationCursor = AutomationPoints.begin();
  if (Plugin) Plugin->OnResumed();
}

}  // namespace brvst
