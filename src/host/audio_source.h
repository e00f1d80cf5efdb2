// AudioSource: a source filter with one output pin, delivering given interleaved audio in media
// samples through the allocator negotiated at connection, then end of stream.
//
// Delivery is driven from the caller's thread (DeliverNext, DeliverAll), so tests and the
// renderer decide exactly when each sample flows. The filter must be paused or running.
#pragma once

#include "dshow/streams.h"
#include "host/audio_format.h"

#include <functional>
#include <memory>
#include <vector>

namespace brvst::host {

struct AudioSourceOptions {
  AudioFormat format;
  // Frames in each sample, used in turn (real sources vary their buffer sizes); the last sample
  // holds what is left.
  std::vector<int> framesPerSample{1024};
  // Buffers asked of the allocator.
  int bufferCount = 3;
  // Deliver NewSegment before the first sample.
  bool newSegment = true;
  // Where the audio comes from when it is not given whole: fills `buffer` with up to `frames`
  // frames in `format` and sets `*filled` to the frames it wrote, 0 at the end; a failure ends
  // delivery with that result. Memory then stays the same whatever the length of the audio.
  std::function<HRESULT(BYTE* buffer, LONG frames, LONG* filled)> provider = nullptr;
  // The provider's frames in all, for the segment's stop time and FramesTotal.
  LONGLONG providedFrames = 0;
};

class AudioSource final : public CBaseFilter {
 public:
  // {6C2B1A10-3D4E-4F5A-8B9C-0D1E2F3A4B5C}
  static constexpr CLSID kClsid = {
      0x6C2B1A10, 0x3D4E, 0x4F5A, {0x8B, 0x9C, 0x0D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5C}};

  // `data` is interleaved audio in options.format; a trailing partial frame is dropped. Without
  // data, the audio comes from options.provider.
  static ComPtr<AudioSource> Create(const AudioSourceOptions& options, std::vector<BYTE> data = {});
  ~AudioSource() override;

  // Delivers the next sample: S_OK when one was delivered, S_FALSE once everything was
  // (end of stream is delivered with the step that finds nothing left), or the first failure
  // of getting, filling or delivering the sample.
  HRESULT DeliverNext();
  // DeliverNext until nothing is left: S_OK, or the first failure.
  HRESULT DeliverAll();
  // Starts the data again from its first frame (stream times restart at 0).
  void Rewind();
  // As a source seeks: flushes downstream, and delivery goes on from `frame` in a new segment
  // that starts there (stream times restart at 0). E_INVALIDARG past the end; E_NOTIMPL for a
  // provider's audio.
  HRESULT Seek(LONGLONG frame);
  // New audio, and a new offered type when the format changes; only while stopped.
  HRESULT SetData(const AudioFormat& format, std::vector<BYTE> data);

  IPin* OutputPin();
  int SamplesDelivered() const { return m_samplesDelivered; }
  LONGLONG FramesDelivered() const { return m_frameCursor; }
  LONGLONG FramesTotal() const;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

 private:
  class OutputPinImpl;
  explicit AudioSource(const AudioSourceOptions& options, std::vector<BYTE> data, HRESULT* phr);
  int FramesOfSample(int index) const;
  HRESULT DeliverEnd();

  CCritSec m_filterLock;
  CCritSec m_pinLock;
  CCritSec m_streamLock;  // the delivery position
  AudioSourceOptions m_options;
  std::vector<BYTE> m_data;
  std::unique_ptr<OutputPinImpl> m_pin;
  LONGLONG m_frameCursor = 0;
  LONGLONG m_segmentFrame = 0;  // where the current segment starts
  int m_samplesDelivered = 0;
  bool m_endDelivered = false;
  bool m_segmentDelivered = false;
};

}  // namespace brvst::host
