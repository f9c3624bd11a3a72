// A table keyed by address that holds at most a fixed number of entries: when a new key would
// pass the limit, the entry used least recently is forgotten. An attacker with many addresses
// can make the table forget, but never make it grow; so it holds only what is harmless to
// forget (a forgotten entry starts afresh with what an address that never came would have).
// What must not be forgotten while it lasts (bans, failure counts) is in an ExpiringTable.
//
// Threading: none of its own; the owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <utility>

namespace security {

template <typename Key, typename Value, typename Hash = std::hash<Key>>
class BoundedTable {
 public:
  explicit BoundedTable(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

  // The entry of `key`, created with Value{} when missing; it becomes the most recently used.
  Value& Touch(const Key& key) {
    auto found = index_.find(key);
    if (found != index_.end()) {
      order_.splice(order_.begin(), order_, found->second);
      return found->second->second;
    }
    if (index_.size() >= capacity_) {
      index_.erase(order_.back().first);
      order_.pop_back();
    }
    order_.emplace_front(key, Value{});
    index_.emplace(key, order_.begin());
    return order_.front().second;
  }
  // The entry of `key` without changing the order; nullptr when missing.
  Value* Find(const Key& key) {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &found->second->second;
  }
  void Erase(const Key& key) {
    auto found = index_.find(key);
    if (found == index_.end()) return;
    order_.erase(found->second);
    index_.erase(found);
  }
  // Removes every entry for which `expired(key, value)` holds.
  template <typename Predicate>
  void EraseIf(Predicate expired) {
    for (auto it = order_.begin(); it != order_.end();) {
      if (expired(it->first, it->second)) {
        index_.erase(it->first);
        it = order_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Calls visit(key, value) for every entry, most recently used first.
  template <typename Visitor>
  void ForEach(Visitor visit) const {
    for (const auto& [key, value] : order_) visit(key, value);
  }
  size_t Size() const { return index_.size(); }
  size_t Capacity() const { return capacity_; }

 private:
  using Order = std::list<std::pair<Key, Value>>;
  size_t capacity_;
  Order order_;  // most recently used first
  std::unordered_map<Key, typename Order::iterator, Hash> index_;
};

}  // namespace security
