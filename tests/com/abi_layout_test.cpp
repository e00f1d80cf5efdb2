// The records that cross the module boundary, against their published offsets on 32-bit and
// 64-bit targets: hosts, the filter mapper and other filters were built by other compilers and
// read these records by offset.
#include "dshow/setup.h"
#include "platform/directshow.h"
#include "synth/media_params.h"

#include <cstddef>

namespace {

constexpr size_t kPtr = sizeof(void*);
constexpr bool k64 = kPtr == 8;

// Packed: 18 bytes, the extensible form's fields right after it.
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nChannels) == 2);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, Samples) == 18);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, dwChannelMask) == 20);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, SubFormat) == 24);

static_assert(offsetof(AM_MEDIA_TYPE, subtype) == 16);
static_assert(offsetof(AM_MEDIA_TYPE, bFixedSizeSamples) == 32);
static_assert(offsetof(AM_MEDIA_TYPE, bTemporalCompression) == 36);
static_assert(offsetof(AM_MEDIA_TYPE, lSampleSize) == 40);
static_assert(offsetof(AM_MEDIA_TYPE, formattype) == 44);
static_assert(offsetof(AM_MEDIA_TYPE, pUnk) == (k64 ? 64 : 60));
static_assert(offsetof(AM_MEDIA_TYPE, cbFormat) == (k64 ? 72 : 64));
static_assert(offsetof(AM_MEDIA_TYPE, pbFormat) == (k64 ? 80 : 68));
static_assert(sizeof(AM_MEDIA_TYPE) == (k64 ? 88 : 72));

static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16);
static_assert(offsetof(ALLOCATOR_PROPERTIES, cbBuffer) == 4);
static_assert(offsetof(ALLOCATOR_PROPERTIES, cbAlign) == 8);
static_assert(offsetof(ALLOCATOR_PROPERTIES, cbPrefix) == 12);

static_assert(offsetof(PIN_INFO, dir) == kPtr);
static_assert(offsetof(PIN_INFO, achName) == kPtr + 4);
static_assert(sizeof(PIN_INFO) == (k64 ? 272 : 264));
static_assert(offsetof(FILTER_INFO, pGraph) == 256);
static_assert(sizeof(FILTER_INFO) == 256 + kPtr);

static_assert(offsetof(CAUUID, pElems) == kPtr);
static_assert(sizeof(CAUUID) == 2 * kPtr);
static_assert(offsetof(PROPPAGEINFO, pszTitle) == kPtr);
static_assert(offsetof(PROPPAGEINFO, size) == 2 * kPtr);
static_assert(offsetof(PROPPAGEINFO, pszDocString) == (k64 ? 24 : 16));
static_assert(offsetof(PROPPAGEINFO, pszHelpFile) == (k64 ? 32 : 20));
static_assert(offsetof(PROPPAGEINFO, dwHelpContext) == (k64 ? 40 : 24));
static_assert(sizeof(PROPPAGEINFO) == (k64 ? 48 : 28));

// The setup records the adapter hands the filter mapper.
static_assert(sizeof(AMOVIESETUP_MEDIATYPE) == 2 * kPtr);
static_assert(offsetof(AMOVIESETUP_PIN, bRendered) == kPtr);
static_assert(offsetof(AMOVIESETUP_PIN, bOutput) == kPtr + 4);
static_assert(offsetof(AMOVIESETUP_PIN, bZero) == kPtr + 8);
static_assert(offsetof(AMOVIESETUP_PIN, bMany) == kPtr + 12);
static_assert(offsetof(AMOVIESETUP_PIN, clsConnectsToFilter) == (k64 ? 24 : 20));
static_assert(offsetof(AMOVIESETUP_PIN, strConnectsToPin) == (k64 ? 32 : 24));
static_assert(offsetof(AMOVIESETUP_PIN, nMediaTypes) == (k64 ? 40 : 28));
static_assert(offsetof(AMOVIESETUP_PIN, lpMediaType) == (k64 ? 48 : 32));
static_assert(sizeof(AMOVIESETUP_PIN) == (k64 ? 56 : 36));
static_assert(offsetof(AMOVIESETUP_FILTER, strName) == kPtr);
static_assert(offsetof(AMOVIESETUP_FILTER, dwMerit) == 2 * kPtr);
static_assert(offsetof(AMOVIESETUP_FILTER, nPins) == 2 * kPtr + 4);
static_assert(offsetof(AMOVIESETUP_FILTER, lpPin) == 2 * kPtr + 8);
static_assert(sizeof(AMOVIESETUP_FILTER) == (k64 ? 32 : 20));

// Media parameters: no pointers, the same on every target.
static_assert(offsetof(brvst::MP_PARAMINFO, mpdMinValue) == 8);
static_assert(offsetof(brvst::MP_PARAMINFO, mpdNeutralValue) == 16);
static_assert(offsetof(brvst::MP_PARAMINFO, szUnitText) == 20);
static_assert(offsetof(brvst::MP_PARAMINFO, szLabel) == 84);
static_assert(sizeof(brvst::MP_PARAMINFO) == 148);
static_assert(offsetof(brvst::MP_ENVELOPE_SEGMENT, rtEnd) == 8);
static_assert(offsetof(brvst::MP_ENVELOPE_SEGMENT, valStart) == 16);
static_assert(offsetof(brvst::MP_ENVELOPE_SEGMENT, valEnd) == 20);
static_assert(offsetof(brvst::MP_ENVELOPE_SEGMENT, iCurve) == 24);
static_assert(offsetof(brvst::MP_ENVELOPE_SEGMENT, flags) == 28);
static_assert(sizeof(REFERENCE_TIME) == 8);

}  // namespace
