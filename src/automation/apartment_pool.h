// A bounded pool of apartments. A new object is seated in an apartment that
// holds no object yet while the pool may grow, otherwise in the one with no
// other user's object, no delivery in progress and the fewest objects, so a
// slow gateway holds back only the objects of its own apartment. The
// objects of one user occupy at most a share of the apartments, so one
// user's stuck deliveries cannot hold back everyone else's. Safe from any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "automation/apartment.h"

namespace qz {

// One apartment as a new object of some user sees it.
struct SeatView {
  bool delivering = false;  // a delivery is in progress there
  size_t objects = 0;       // objects seated there
  size_t own = 0;           // of which the user's
};

// Where a user's new object goes: an index into `apartments`, or
// apartments.size() for a new apartment (only when `may_grow`). Once the
// user's objects occupy `share` apartments (0: no limit) only those are
// chosen from. The choice falls on an apartment no other user's object
// occupies, then on one with no delivery in progress (without a share: the
// other way round), then on the fewest objects; an empty apartment is taken
// before a new one.
size_t ChooseSeat(std::span<const SeatView> apartments, bool may_grow, size_t share);

// How many apartments one user's objects may occupy in a pool of
// `max_apartments`: `requested`, or half when 0; at least one, and one
// fewer than all when there are two or more.
size_t UserShare(size_t max_apartments, size_t requested);

class ApartmentPool {
 public:
  using User = uint32_t;

  // `share` as UserShare() takes it.
  explicit ApartmentPool(size_t max_apartments, size_t share = 0);
  // Stops every apartment, even one an object or posted work still refers
  // to, so none of their work runs after the pool's owner is gone.
  ~ApartmentPool();
  ApartmentPool(const ApartmentPool&) = delete;
  ApartmentPool& operator=(const ApartmentPool&) = delete;

  // The apartment for one new object of `user` (none: an object counted
  // against no user's share). The object counts as seated there for as long
  // as the returned pointer (or a copy) lives.
  std::shared_ptr<Apartment> Assign(std::optional<User> user = std::nullopt);
  size_t size() const;
  // Every apartment made so far, for a look from outside (a watchdog).
  std::vector<std::shared_ptr<Apartment>> Apartments() const;
  size_t share() const { return share_; }

 private:
  struct State;  // shared with the seats, which may outlive the pool
  const size_t max_;
  const size_t share_;
  std::shared_ptr<State> state_;
};

}  // namespace qz
