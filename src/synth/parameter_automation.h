// The filter's media parameter interfaces: host parameter i is the plug-in's parameter i, with
// the plug-in's normalised range 0..1 and no scaling; envelopes become time-stamped jumps to
// their segments' end values, which the processing step applies before each buffer.
#pragma once

#include "synth/media_params.h"

namespace brvst {

class AdapterFilter;

// A sub-object of the filter: its IUnknown methods are the filter's.
class FilterMediaParams final : public IMediaParamInfo, public IMediaParams {
 public:
  explicit FilterMediaParams(AdapterFilter& filter) : filter_(filter) {}
  FilterMediaParams(const FilterMediaParams&) = delete;
  FilterMediaParams& operator=(const FilterMediaParams&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IMediaParamInfo
  STDMETHODIMP GetParamCount(DWORD* count) override;
  // Type float, jumps only, range 0..1, the current value as the neutral one.
  STDMETHODIMP GetParamInfo(DWORD index, MP_PARAMINFO* info) override;
  STDMETHODIMP GetParamText(DWORD index, WCHAR** text) override;
  STDMETHODIMP GetNumTimeFormats(DWORD* count) override;
  STDMETHODIMP GetSupportedTimeFormat(DWORD index, GUID* format) override;
  STDMETHODIMP GetCurrentTimeFormat(GUID* format, MP_TIMEDATA* data) override;

  // IMediaParams. Every method but AddEnvelope answers E_INVALIDARG for an index beyond the
  // plug-in's parameters; a point of such a parameter is kept and does nothing when applied.
  STDMETHODIMP GetParam(DWORD index, MP_DATA* value) override;
  STDMETHODIMP SetParam(DWORD index, MP_DATA value) override;
  // Keeps each segment's end as a point; the points are applied again from the first, so one
  // whose time has passed takes effect at the next buffer.
  STDMETHODIMP AddEnvelope(DWORD index, DWORD count, MP_ENVELOPE_SEGMENT* segments) override;
  // Removes the parameter's points from `start` to `end`, both included.
  STDMETHODIMP FlushEnvelope(DWORD index, REFERENCE_TIME start, REFERENCE_TIME end) override;
  // Reference time only; nothing is stored.
  STDMETHODIMP SetTimeFormat(GUID format, MP_TIMEDATA data) override;

 private:
  DWORD ParamCount() const;

  AdapterFilter& filter_;
};

}  // namespace brvst
