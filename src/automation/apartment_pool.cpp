#include "automation/apartment_pool.h"

#include <algorithm>
#include <string>

namespace qz {
namespace {

// Keeps the object count of its apartment while the object lives.
struct Seat {
  explicit Seat(std::shared_ptr<Apartment> a) : apartment(std::move(a)) { ++apartment->objects(); }
  ~Seat() { --apartment->objects(); }
  std::shared_ptr<Apartment> apartment;
};

}  // namespace

ApartmentPool::ApartmentPool(size_t max_apartments) : max_(std::max<size_t>(1, max_apartments)) {}

ApartmentPool::~ApartmentPool() {
  // Our references keep each apartment alive while it stops, so none of its
  // own work can be the last owner and end it from inside.
  for (const auto& apartment : apartments_) apartment->Stop();
}

std::shared_ptr<Apartment> ApartmentPool::Assign() {
  std::lock_guard lock(mutex_);
  std::shared_ptr<Apartment> chosen;
  for (const auto& a : apartments_) {
    if (a->objects() == 0 && a->deliveries() == 0) {
      chosen = a;
      break;
    }
  }
  if (!chosen && apartments_.size() < max_) {
    chosen = std::make_shared<Apartment>("qz-apt-" + std::to_string(apartments_.size()));
    apartments_.push_back(chosen);
  }
  if (!chosen) {
    auto load = [](const std::shared_ptr<Apartment>& a) {
      return std::pair(a->deliveries().load() > 0, a->objects().load());
    };
    chosen = *std::min_element(apartments_.begin(), apartments_.end(),
                               [&](const auto& x, const auto& y) { return load(x) < load(y); });
  }
  auto seat = std::make_shared<Seat>(chosen);
  return std::shared_ptr<Apartment>(seat, seat->apartment.get());
}

size_t ApartmentPool::size() const {
  std::lock_guard lock(mutex_);
  return apartments_.size();
}

}  // namespace qz
