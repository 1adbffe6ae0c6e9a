// A bounded pool of apartments. A new object is seated in an apartment that
// holds no object yet while the pool may grow, otherwise in the one with no
// delivery in progress and the fewest objects, so a slow gateway holds back
// only the objects of its own apartment. Safe from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "automation/apartment.h"

namespace qz {

class ApartmentPool {
 public:
  explicit ApartmentPool(size_t max_apartments);
  // Stops every apartment, even one an object or posted work still refers
  // to, so none of their work runs after the pool's owner is gone.
  ~ApartmentPool();
  ApartmentPool(const ApartmentPool&) = delete;
  ApartmentPool& operator=(const ApartmentPool&) = delete;

  // The apartment for one new object. The object counts as seated there for
  // as long as the returned pointer (or a copy) lives.
  std::shared_ptr<Apartment> Assign();
  size_t size() const;

 private:
  mutable std::mutex mutex_;
  size_t max_;
  std::vector<std::shared_ptr<Apartment>> apartments_;
};

}  // namespace qz
