// The calling conventions at the module boundary of the 32-bit build, where they differ: COM
// methods and the adapter's exports are __stdcall (the callee pops its arguments), the VST 2
// entry point, dispatcher, processing functions and host callback are cdecl (the caller pops).
// A method declared without its convention would compile and corrupt the caller's stack at run
// time. The system's interfaces carry theirs, and the compiler refuses an override of another
// convention; the exports and the interfaces declared here are checked below. Compiled for i686
// only: the other targets have one convention.
#include "com/exports.h"
#include "filter/private_interfaces.h"
#include "synth/host_objects.h"
#include "synth/media_params.h"
#include "synth/synth_interfaces.h"
#include "vst2/vst2.h"
#include "vsthost/host_callback.h"

#include <type_traits>

namespace {

#define BRVST_STDCALL __attribute__((stdcall))
#define BRVST_CDECL __attribute__((cdecl))

template <class F>
struct IsStdcallFunction : std::false_type {};
template <class R, class... A>
struct IsStdcallFunction<R(BRVST_STDCALL*)(A...)> : std::true_type {};

template <class F>
struct IsCdeclFunction : std::false_type {};
template <class R, class... A>
struct IsCdeclFunction<R(BRVST_CDECL*)(A...)> : std::true_type {};

template <class M>
struct IsStdcallMethod : std::false_type {};
template <class R, class C, class... A>
struct IsStdcallMethod<R (BRVST_STDCALL C::*)(A...)> : std::true_type {};

// The check itself must tell the conventions apart.
static_assert(!IsStdcallFunction<void(BRVST_CDECL*)(int)>::value);
static_assert(!IsCdeclFunction<void(BRVST_STDCALL*)(int)>::value);

static_assert(IsStdcallFunction<decltype(&DllMain)>::value);
static_assert(IsStdcallFunction<decltype(&DllCanUnloadNow)>::value);
static_assert(IsStdcallFunction<decltype(&DllGetClassObject)>::value);
static_assert(IsStdcallFunction<decltype(&DllRegisterServer)>::value);
static_assert(IsStdcallFunction<decltype(&DllUnregisterServer)>::value);
static_assert(IsStdcallFunction<decltype(&InitAdapterResources)>::value);
static_assert(IsStdcallFunction<decltype(&ReleaseAdapterResources)>::value);

static_assert(IsCdeclFunction<vst2::EntryProc>::value);
static_assert(IsCdeclFunction<vst2::HostCallbackProc>::value);
static_assert(IsCdeclFunction<vst2::DispatcherProc>::value);
static_assert(IsCdeclFunction<vst2::ProcessProc>::value);
static_assert(IsCdeclFunction<vst2::ProcessDoubleProc>::value);
static_assert(IsCdeclFunction<vst2::SetParameterProc>::value);
static_assert(IsCdeclFunction<vst2::GetParameterProc>::value);
static_assert(IsCdeclFunction<decltype(&brvst::HostCallback)>::value);

#define BRVST_CHECK_STDCALL(Interface, Method) \
  static_assert(IsStdcallMethod<decltype(&brvst::Interface::Method)>::value, #Interface)

BRVST_CHECK_STDCALL(IMediaParamInfo, GetParamCount);
BRVST_CHECK_STDCALL(IMediaParamInfo, GetParamInfo);
BRVST_CHECK_STDCALL(IMediaParamInfo, GetParamText);
BRVST_CHECK_STDCALL(IMediaParamInfo, GetNumTimeFormats);
BRVST_CHECK_STDCALL(IMediaParamInfo, GetSupportedTimeFormat);
BRVST_CHECK_STDCALL(IMediaParamInfo, GetCurrentTimeFormat);
BRVST_CHECK_STDCALL(IMediaParams, GetParam);
BRVST_CHECK_STDCALL(IMediaParams, SetParam);
BRVST_CHECK_STDCALL(IMediaParams, AddEnvelope);
BRVST_CHECK_STDCALL(IMediaParams, FlushEnvelope);
BRVST_CHECK_STDCALL(IMediaParams, SetTimeFormat);

BRVST_CHECK_STDCALL(INameList, GetName);
BRVST_CHECK_STDCALL(INameList, GetCount);
BRVST_CHECK_STDCALL(INameList, GetEntryName);
BRVST_CHECK_STDCALL(INameList, GetEntryCount);
BRVST_CHECK_STDCALL(INameList, GetFirstPosition);
BRVST_CHECK_STDCALL(INameList, GetNextEntry);
BRVST_CHECK_STDCALL(INameList, FindEntry);
BRVST_CHECK_STDCALL(ISynthInstrument, Connect);
BRVST_CHECK_STDCALL(ISynthInstrument, Disconnect);
BRVST_CHECK_STDCALL(ISynthInstrument, OnStart);
BRVST_CHECK_STDCALL(ISynthInstrument, OnTimeJump);
BRVST_CHECK_STDCALL(ISynthInstrument, OnStop);
BRVST_CHECK_STDCALL(ISynthInstrument, ProcessEvents);
BRVST_CHECK_STDCALL(ISynthInstrument, ProcessMidiMessages);
BRVST_CHECK_STDCALL(ISynthInstrument, GetBankNumbers);
BRVST_CHECK_STDCALL(ISynthInstrument, QueryPatchFlag);
BRVST_CHECK_STDCALL(ISynthInstrument, ValidatePatch);
BRVST_CHECK_STDCALL(ISynthInstrument, GetBankNames);
BRVST_CHECK_STDCALL(ISynthInstrument, Unsupported1);
BRVST_CHECK_STDCALL(ISynthInstrument, Unsupported2);
BRVST_CHECK_STDCALL(ISynthInstrument, Unsupported3);
BRVST_CHECK_STDCALL(ISynthInstrument, GetNrpnNames);
BRVST_CHECK_STDCALL(IChannelSettings, SetChannelSetting);

// The host's objects, which the adapter calls.
BRVST_CHECK_STDCALL(IHostTempoMap, MsFromEventTime);
BRVST_CHECK_STDCALL(IHostTempoMap, TicksFromMs);
BRVST_CHECK_STDCALL(IHostTempoMap, TicksPerQuarter);
BRVST_CHECK_STDCALL(IHostTempoMap, TempoEntryAt);
BRVST_CHECK_STDCALL(IHostTempoMap, Reserved5);
BRVST_CHECK_STDCALL(IHostTempoMap, GetTempoEntry);
BRVST_CHECK_STDCALL(IHostTimeConverter, ConvertTime);
BRVST_CHECK_STDCALL(IHostEventList, Reserved1);
BRVST_CHECK_STDCALL(IHostEventList, GetCount);
BRVST_CHECK_STDCALL(IHostEventList, GetAt);
BRVST_CHECK_STDCALL(IHostMessageList, Reserved1);
BRVST_CHECK_STDCALL(IHostMessageList, GetCount);
BRVST_CHECK_STDCALL(IHostMessageList, GetAt);
BRVST_CHECK_STDCALL(IHostParamEdit, BeginParamEdit);
BRVST_CHECK_STDCALL(IHostParamEdit, ParamEdited);
BRVST_CHECK_STDCALL(IHostParamEdit, EndParamEdit);

// The filter's private interfaces, between the filter and its page or the host.
BRVST_CHECK_STDCALL(IFilterPageLink, AttachPage);
BRVST_CHECK_STDCALL(IHostObjectSink, SetHostObject);
BRVST_CHECK_STDCALL(INotifySink, Notify1);
BRVST_CHECK_STDCALL(INotifySink, Notify2);

}  // namespace
