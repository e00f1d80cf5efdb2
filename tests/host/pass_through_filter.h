// A transform-like filter built on the base classes, as the adapter's filter is: an input pin
// for any audio wave type and an output pin that offers and accepts only the input's type,
// passing each sample through in place and forwarding the stream-control calls. A new input type
// that the output no longer matches has the output reconnected through the graph.
#pragma once

#include "dshow/streams.h"

#include <memory>
#include <string>
#include <vector>

namespace brvst::test {

class PassThroughFilter final : public CBaseFilter {
 public:
  // {6C2B1A12-3D4E-4F5A-8B9C-0D1E2F3A4B5C}
  static constexpr CLSID kClsid = {
      0x6C2B1A12, 0x3D4E, 0x4F5A, {0x8B, 0x9C, 0x0D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5C}};

  // `stateLog`, when given, gets "<name> Pause" and the like for every state change.
  static ComPtr<PassThroughFilter> Create(std::string name = "pass",
                                          std::vector<std::string>* stateLog = nullptr);
  ~PassThroughFilter() override;

  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;

  IPin* InputPin();
  IPin* OutputPin();
  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;

 private:
  class Input;
  class Output;
  PassThroughFilter(std::string name, std::vector<std::string>* stateLog);
  void Log(const char* change);

  CCritSec m_filterLock;
  CCritSec m_inputLock;
  CCritSec m_outputLock;
  const std::string m_name;
  std::vector<std::string>* const m_stateLog;
  std::unique_ptr<Input> m_input;
  std::unique_ptr<Output> m_output;
};

}  // namespace brvst::test
