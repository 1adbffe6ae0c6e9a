#include "automation/apartment_pool.h"

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace qz {

struct ApartmentPool::State {
  std::mutex mutex;
  std::vector<std::shared_ptr<Apartment>> apartments;
  // Per apartment, how many objects each user has seated there.
  std::map<const Apartment*, std::map<User, size_t>> occupants;
};

namespace {

// Keeps the object counts of its apartment while the object lives.
struct Seat {
  Seat(std::shared_ptr<Apartment> a, std::function<void()> leave)
      : apartment(std::move(a)), leave_(std::move(leave)) {
    ++apartment->objects();
  }
  ~Seat() {
    --apartment->objects();
    if (leave_) leave_();
  }
  std::shared_ptr<Apartment> apartment;

 private:
  std::function<void()> leave_;
};

}  // namespace

size_t ChooseSeat(std::span<const SeatView> apartments, bool may_grow, size_t share) {
  const size_t occupied = static_cast<size_t>(
      std::count_if(apartments.begin(), apartments.end(), [](const SeatView& v) { return v.own; }));
  const bool confined = share > 0 && occupied >= share;
  // A user's object goes first where no other user's object is: their calls
  // would wait behind its work, where its own wait only behind a delivery.
  // Without a share (no user known) the idle apartments come first.
  auto load = [share](const SeatView& v) {
    const bool others = v.objects > v.own;
    return share > 0 ? std::tuple(others, v.delivering, v.objects)
                     : std::tuple(v.delivering, others, v.objects);
  };
  size_t chosen = apartments.size();
  for (size_t i = 0; i < apartments.size(); ++i) {
    if (confined && apartments[i].own == 0) continue;
    if (chosen == apartments.size() || load(apartments[i]) < load(apartments[chosen])) chosen = i;
  }
  const bool grow = may_grow && !confined &&
                    (chosen == apartments.size() || load(SeatView{}) < load(apartments[chosen]));
  return grow ? apartments.size() : chosen;
}

size_t UserShare(size_t max_apartments, size_t requested) {
  const size_t wanted = requested > 0 ? requested : max_apartments / 2;
  const size_t most = max_apartments > 1 ? max_apartments - 1 : 1;
  return std::clamp<size_t>(wanted, 1, most);
}

ApartmentPool::ApartmentPool(size_t max_apartments, size_t share)
    : max_(std::max<size_t>(1, max_apartments)),
      share_(UserShare(max_, share)),
      state_(std::make_shared<State>()) {}

ApartmentPool::~ApartmentPool() {
  // Our references keep each apartment alive while it stops, so none of its
  // own work can be the last owner and end it from inside.
  for (const auto& apartment : state_->apartments) apartment->Stop();
}

std::shared_ptr<Apartment> ApartmentPool::Assign(std::optional<User> user) {
  std::lock_guard lock(state_->mutex);
  auto& apartments = state_->apartments;
  std::vector<SeatView> views;
  views.reserve(apartments.size());
  for (const auto& a : apartments) {
    SeatView view{a->deliveries().load() > 0, static_cast<size_t>(a->objects().load()), 0};
    if (user) {
      const auto& here = state_->occupants[a.get()];
      if (auto it = here.find(*user); it != here.end()) view.own = it->second;
    }
    views.push_back(view);
  }
  const size_t index = ChooseSeat(views, apartments.size() < max_, user ? share_ : 0);
  if (index == apartments.size())
    apartments.push_back(
        std::make_shared<Apartment>("qz-apt-" + std::to_string(apartments.size())));
  std::shared_ptr<Apartment> chosen = apartments[index];
  std::function<void()> leave;
  if (user) {
    ++state_->occupants[chosen.get()][*user];
    leave = [state = state_, at = chosen.get(), who = *user] {
      std::lock_guard lock(state->mutex);
      auto& here = state->occupants[at];
      if (--here[who] == 0) here.erase(who);
    };
  }
  auto seat = std::make_shared<Seat>(chosen, std::move(leave));
  return std::shared_ptr<Apartment>(seat, seat->apartment.get());
}

size_t ApartmentPool::size() const {
  std::lock_guard lock(state_->mutex);
  return state_->apartments.size();
}

std::vector<std::shared_ptr<Apartment>> ApartmentPool::Apartments() const {
  std::lock_guard lock(state_->mutex);
  return state_->apartments;
}

}  // namespace qz
