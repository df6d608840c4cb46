#pragma once
// A list of callbacks that several parts can join and leave independently (a window and a broker
// publisher both following one network's reads), each by the ticket Add gave. Main thread only.

#include <functional>
#include <utility>
#include <vector>

namespace vexa {

template <typename... Args>
class TObservers {
 public:
  using TCallback = std::function<void(Args...)>;

  int Add(TCallback callback) {
    observers_.emplace_back(++lastTicket_, std::move(callback));
    return lastTicket_;
  }
  void Remove(int ticket) {
    std::erase_if(observers_, [ticket](const auto& o) { return o.first == ticket; });
  }
  bool Empty() const { return observers_.empty(); }
  // A callback may remove itself or another: the list is walked on a copy.
  void Notify(Args... args) const {
    if (observers_.empty()) return;
    const auto copy = observers_;
    for (const auto& o : copy) o.second(args...);
  }

 private:
  std::vector<std::pair<int, TCallback>> observers_;
  int lastTicket_ = 0;
};

}  // namespace vexa
