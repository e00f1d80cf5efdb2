#include "synth/parameter_automation.h"

#include "dshow/unknown.h"
#include "filter/adapter_filter.h"
#include "vst2/vst2.h"
#include "vsthost/vst_plug_instance.h"

#include <cstring>
#include <iterator>
#include <new>

namespace brvst {
namespace {

constexpr size_t kParamTextBytes = 128;

// A plug-in text of a 32-byte buffer as UTF-16, at most 32 characters.
void WidenParamText(const char* text, WCHAR* out) {
  MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, vst2::kParamTextSize, out,
                      vst2::kParamTextSize);
}

}  // namespace

STDMETHODIMP FilterMediaParams::QueryInterface(REFIID riid, void** ppv) {
  return filter_.GetOwner()->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) FilterMediaParams::AddRef() {
  return filter_.GetOwner()->AddRef();
}

STDMETHODIMP_(ULONG) FilterMediaParams::Release() {
  return filter_.GetOwner()->Release();
}

DWORD FilterMediaParams::ParamCount() const {
  return filter_.Plugin ? static_cast<DWORD>(filter_.Plugin->GetNumParams()) : 0;
}

STDMETHODIMP FilterMediaParams::GetParamCount(DWORD* count) {
  CheckPointer(count, E_POINTER);
  *count = ParamCount();
  return S_OK;
}

STDMETHODIMP FilterMediaParams::GetParamInfo(DWORD index, MP_PARAMINFO* info) {
  CheckPointer(info, E_POINTER);
  if (index >= ParamCount()) return E_INVALIDARG;
  VstPlugInstance& plugin = *filter_.Plugin;
  const auto i = static_cast<int32_t>(index);
  *info = MP_PARAMINFO{};
  info->mpType = MPT_FLOAT;
  info->mopCaps = MP_CAPS_CURVE_JUMP;
  info->mpdMinValue = 0.0f;
  info->mpdMaxValue = 1.0f;
  info->mpdNeutralValue = plugin.GetParameter(i);
  char text[vst2::kParamTextSize] = {};
  plugin.GetParamLabel(i, text);
  WidenParamText(text, info->szUnitText);
  std::memset(text, 0, sizeof text);
  plugin.GetParamName(i, text);
  WidenParamText(text, info->szLabel);
  return S_OK;
}

STDMETHODIMP FilterMediaParams::GetParamText(DWORD index, WCHAR** text) {
  CheckPointer(text, E_POINTER);
  *text = nullptr;
  if (index >= ParamCount()) return E_INVALIDARG;
  auto* out = static_cast<WCHAR*>(CoTaskMemAlloc(kParamTextBytes));
  if (out == nullptr) return E_OUTOFMEMORY;
  std::memset(out, 0, kParamTextBytes);
  VstPlugInstance& plugin = *filter_.Plugin;
  const auto i = static_cast<int32_t>(index);
  // Each text has at most 31 characters and its NUL: name and unit fit the 64 characters.
  char name[vst2::kParamTextSize] = {};
  plugin.GetParamName(i, name);
  WidenParamText(name, out);
  size_t nameLength = 0;
  while (nameLength < vst2::kParamTextSize - 1 && out[nameLength] != 0) ++nameLength;
  char label[vst2::kParamTextSize] = {};
  plugin.GetParamLabel(i, label);
  WidenParamText(label, out + nameLength + 1);
  *text = out;
  return S_OK;
}

STDMETHODIMP FilterMediaParams::GetNumTimeFormats(DWORD* count) {
  CheckPointer(count, E_POINTER);
  *count = 1;
  return S_OK;
}

STDMETHODIMP FilterMediaParams::GetSupportedTimeFormat(DWORD index, GUID* format) {
  CheckPointer(format, E_POINTER);
  if (index != 0) return E_INVALIDARG;
  *format = GUID_TIME_REFERENCE;
  return S_OK;
}

STDMETHODIMP FilterMediaParams::GetCurrentTimeFormat(GUID* format, MP_TIMEDATA* data) {
  CheckPointer(format, E_POINTER);
  CheckPointer(data, E_POINTER);
  *format = GUID_TIME_REFERENCE;
  *data = 0;
  return S_OK;
}

STDMETHODIMP FilterMediaParams::GetParam(DWORD index, MP_DATA* value) {
  CheckPointer(value, E_POINTER);
  if (index >= ParamCount()) return E_INVALIDARG;
  *value = filter_.Plugin->GetParameter(static_cast<int32_t>(index));
  return S_OK;
}

STDMETHODIMP FilterMediaParams::SetParam(DWORD index, MP_DATA value) {
  if (index >= ParamCount()) return E_INVALIDARG;
  filter_.Plugin->SetParameter(static_cast<int32_t>(index), value);
  return S_OK;
}

STDMETHODIMP FilterMediaParams::AddEnvelope(DWORD index, DWORD count,
                                            MP_ENVELOPE_SEGMENT* segments) {
  if (count == 0) return S_OK;
  CheckPointer(segments, E_POINTER);
  // The points are made before the lock and spliced in: the streaming thread waits for no
  // allocation, and a failed one adds nothing.
  std::list<AutomationPoint> added;
  try {
    for (DWORD s = 0; s < count; ++s)
      added.push_back({segments[s].rtEnd, static_cast<int32_t>(index), segments[s].valEnd});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  CAutoLock lock(&filter_.StreamLock);
  auto& points = filter_.AutomationPoints;
  while (!added.empty()) {
    // Before the first point at or after its time, so the point added last comes first among
    // equal times. Searched from the end: envelopes arrive in time order.
    const int64_t time = added.front().time;
    auto at = points.end();
    while (at != points.begin() && std::prev(at)->time >= time) --at;
    points.splice(at, added, added.begin());
  }
  filter_.AutomationCursor = points.begin();
  return S_OK;
}

STDMETHODIMP FilterMediaParams::FlushEnvelope(DWORD index, REFERENCE_TIME start,
                                              REFERENCE_TIME end) {
  if (index >= ParamCount()) return E_INVALIDARG;
  CAutoLock lock(&filter_.StreamLock);
  const auto parameter = static_cast<int32_t>(index);
  const size_t removed = filter_.AutomationPoints.remove_if([&](const AutomationPoint& p) {
    return p.index == parameter && start <= p.time && p.time <= end;
  });
  if (removed != 0) filter_.AutomationCursor = filter_.AutomationPoints.begin();
  return S_OK;
}

STDMETHODIMP FilterMediaParams::SetTimeFormat(GUID format, MP_TIMEDATA) {
  return format == GUID_TIME_REFERENCE ? S_OK : E_INVALIDARG;
}

}  // namespace brvst
