// AudioSink: a renderer-like filter with one input pin that keeps everything that arrives.
//
// It accepts the media types it is given (any audio wave type when given none), records every
// sample's bytes, times and flags, end of stream, flushes and segments, and reports completion
// to its graph (EC_COMPLETE) once end of stream has arrived while running, as renderers do.
// Seeking it passes upstream.
#pragma once

#include "dshow/streams.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace brvst::host {

struct AudioSinkOptions {
  // The types the pin accepts; any audio type with a wave format block when empty.
  std::vector<CMediaType> acceptedTypes;
  // Whether the pin also offers its accepted types during negotiation (renderers usually don't).
  bool offerAcceptedTypes = false;
  // What GetAllocatorRequirements answers; E_NOTIMPL when unset.
  std::optional<ALLOCATOR_PROPERTIES> allocatorRequirements;
  // Room reserved up front, so that collecting samples allocates nothing until it is used up.
  size_t reserveBytes = 0;
  size_t reserveSamples = 0;
  // As a renderer that has prerolled: Receive keeps the sample, and the caller's thread, while
  // the sink is paused, until it runs or stops or a flush begins.
  bool holdWhilePaused = false;
  // How long a held Receive takes to return once released, as a renderer finishing its work.
  int heldReturnMs = 0;
  // How long each Receive takes while running, as a renderer that plays in real time.
  int runningReceiveMs = 0;
  // Where the audio goes when it is not kept: each sample's data is handed over as it arrives
  // and neither its bytes nor its record are kept, so memory stays the same however long the
  // stream. A failure is Receive's answer.
  std::function<HRESULT(const BYTE* data, LONG bytes)> consumer = nullptr;
};

// One sample as it arrived.
struct ReceivedSample {
  LONG length = 0;            // actual data length
  HRESULT timeResult = S_OK;  // of GetTime
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  HRESULT mediaTimeResult = S_OK;  // of GetMediaTime
  LONGLONG mediaStart = 0;
  LONGLONG mediaStop = 0;
  bool syncPoint = false;
  bool discontinuity = false;
  bool preroll = false;
  bool typeChanged = false;
};

class AudioSink final : public CBaseFilter, public IAMFilterMiscFlags {
 public:
  // {6C2B1A11-3D4E-4F5A-8B9C-0D1E2F3A4B5C}
  static constexpr CLSID kClsid = {
      0x6C2B1A11, 0x3D4E, 0x4F5A, {0x8B, 0x9C, 0x0D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5C}};

  static ComPtr<AudioSink> Create(AudioSinkOptions options = {});
  ~AudioSink() override;

  DECLARE_IUNKNOWN
  // Adds IAMFilterMiscFlags, by which a graph tells renderers apart, and IMediaSeeking and
  // IMediaPosition, passed on upstream as a renderer does: a graph seeks through its renderers.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  // A completion that arrived before Run is reported when the filter runs.
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  STDMETHODIMP Stop() override;

  IPin* InputPin();
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  // What arrived (copies, taken under the sink's lock).
  std::vector<BYTE> Bytes() const;
  // What arrived after the last flush ended: the audio from a seek point on.
  std::vector<BYTE> BytesAfterFlush() const;
  std::vector<ReceivedSample> Samples() const;
  size_t SampleCount() const;
  int EndOfStreamCount() const;
  int BeginFlushCount() const;
  int EndFlushCount() const;
  // Samples refused by the base pin (stopped, flushing) and their last answer.
  int RejectedCount() const;
  // The last NewSegment: start, stop, rate.
  REFERENCE_TIME SegmentStart() const;
  double SegmentRate() const;
  // The type of the last connection, kept after it is broken (empty before any).
  CMediaType ConnectedType() const;
  // Forgets everything received.
  void Clear();
  // Receive calls waiting in the paused sink right now (holdWhilePaused).
  int HeldCount() const { return m_held.load(); }

 private:
  class InputPinImpl;
  AudioSink(AudioSinkOptions options, HRESULT* phr);
  void OnEndOfStream();
  void HoldWhilePaused();
  void ReleaseHeld();

  CCritSec m_filterLock;
  CCritSec m_pinLock;
  const AudioSinkOptions m_options;
  std::unique_ptr<InputPinImpl> m_pin;
  std::unique_ptr<CPosPassThru> m_position;

  mutable std::mutex m_dataLock;  // what arrived
  std::vector<BYTE> m_bytes;
  std::vector<ReceivedSample> m_samples;
  size_t m_consumed = 0;  // samples handed to the consumer
  int m_endOfStream = 0;
  int m_beginFlush = 0;
  int m_endFlush = 0;
  size_t m_flushEnd = 0;  // bytes kept when the last flush ended
  int m_rejected = 0;
  CMediaType m_connectedType;
  REFERENCE_TIME m_segmentStart = 0;
  double m_segmentRate = 0;
  bool m_completionPending = false;

  std::mutex m_holdLock;  // with m_holdChanged: wakes held Receive calls
  std::condition_variable m_holdChanged;
  std::atomic<int> m_held{0};
};

}  // namespace brvst::host
