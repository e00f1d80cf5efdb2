// Per-source settings the host writes through channel settings and events, and the adapter reads
// while it turns events into MIDI messages. The filter owns one set for its lifetime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace brvst {

/// Values keyed by channelKey (a host track or port). A key never written reads as 0, and reading
/// never creates an entry: whether a key has an entry at all is observable (a mute entry of 0).
class KeyTable {
 public:
  int32_t Get(uint32_t key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? 0 : it->second;
  }
  bool Contains(uint32_t key) const { return values_.contains(key); }
  /// Allocates for a key not seen before, so it can throw std::bad_alloc; rewriting an existing
  /// key never allocates.
  void Set(uint32_t key, int32_t value) { values_.insert_or_assign(key, value); }
  std::size_t Size() const { return values_.size(); }
  void Clear() { values_.clear(); }

  auto begin() const { return values_.begin(); }
  auto end() const { return values_.end(); }

 private:
  std::map<uint32_t, int32_t> values_;
};

/// The five per-key tables, in the order the filter creates them.
struct ChannelKeyTables {
  KeyTable ChannelMute;
  KeyTable VelocityOffsetA;
  KeyTable VelocityOffsetB;
  KeyTable KeyOffsetA;
  KeyTable KeyOffsetB;
};

}  // namespace brvst
