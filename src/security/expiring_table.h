// A table of records that each end at a time of their own (bans, failure counts, quarantines),
// on the 64-bit monotonic clock. A record that has not ended is never forgotten to make room:
// at its capacity the table refuses a new key, and the caller falls back on a coarser measure.
// Ended records are dropped where they are met, and all at once when the table is full (at most
// once a second, so that a flood against a full table costs only the refused insertions).
//
// Value must have `bool Ended(uint64_t now_ms) const`.
//
// Threading: none of its own; the owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace security {

template <typename Key, typename Value, typename Hash>
class ExpiringTable {
 public:
  static constexpr uint64_t kSweepIntervalMs = 1000;

  explicit ExpiringTable(size_t capacity) : capacity_(capacity) {}

  // A smaller capacity forgets nothing: new keys wait until enough records have ended.
  void SetCapacity(size_t capacity) { capacity_ = capacity; }
  size_t Capacity() const { return capacity_; }
  size_t Size() const { return records_.size(); }

  // The record of `key` that has not ended; null when there is none (an ended one is dropped).
  Value* Find(const Key& key, uint64_t now_ms) {
    auto found = records_.find(key);
    if (found == records_.end()) return nullptr;
    if (!found->second.Ended(now_ms)) return &found->second;
    records_.erase(found);
    return nullptr;
  }
  // The live record of `key`, or a new Value{} for it; null when the table is full of records
  // that have not ended.
  Value* FindOrAdd(const Key& key, uint64_t now_ms) {
    if (Value* live = Find(key, now_ms)) return live;
    if (records_.size() >= capacity_) SweepNoMoreThanOnceASecond(now_ms);
    if (records_.size() >= capacity_) return nullptr;
    return &records_.emplace(key, Value{}).first->second;
  }
  void Erase(const Key& key) { records_.erase(key); }
  // Drops every record that has ended by `now_ms`.
  void SweepEnded(uint64_t now_ms) {
    std::erase_if(records_, [now_ms](const auto& entry) { return entry.second.Ended(now_ms); });
    last_sweep_ms_ = now_ms;
  }
  // Calls visit(key, value) for every record, ended or not.
  template <typename Visitor>
  void ForEach(Visitor visit) const {
    for (const auto& [key, value] : records_) visit(key, value);
  }

 private:
  void SweepNoMoreThanOnceASecond(uint64_t now_ms) {
    if (swept_ && now_ms < last_sweep_ms_ + kSweepIntervalMs) return;
    swept_ = true;
    SweepEnded(now_ms);
  }

  size_t capacity_;
  std::unordered_map<Key, Value, Hash> records_;
  uint64_t last_sweep_ms_ = 0;
  bool swept_ = false;
};

}  // namespace security
