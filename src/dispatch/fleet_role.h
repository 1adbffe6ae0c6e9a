// A daemon's part in a fleet that shares one journal: the gateways it
// serves, what a try needs, the refusal of a request the shared store
// cannot keep, and the lease check asked before each recipient. Without a
// fleet none of it is used. Plain values; a LeaseWatch and its gates belong
// to one run on its object's apartment.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/request_record.h"
#include "gateways/delivery_gate.h"

namespace qz {

class JournalStore;

struct FleetRole {
  std::vector<std::string> serves;  // "mail" and paging gateway numbers ("0", "1", "2")
  // What a try of the record needs; a daemon that serves all of it may run it.
  std::function<std::vector<std::string>(const RequestRecord&)> needs;
};

// "1,mail"; "nothing" for none.
std::string FleetNames(const std::vector<std::string>& names);
// "mail" when mail is on and has a recipient, and `paging` (the accepting
// daemon's paging gateway number) when a pager entry is present.
std::vector<std::string> TryNeeds(const RequestRecord& record, std::string_view paging);

// The shared store cannot make a request durable, so it is not accepted:
// the caller hears it as such, never as one of the behaviour's answers.
class JournalUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether this daemon still holds a try; once it lost it, it stays lost.
class LeaseWatch {
 public:
  LeaseWatch(JournalStore& store, uint64_t key) : store_(store), key_(key) {}
  bool Holds();
  bool lost() const { return lost_; }

 private:
  JournalStore& store_;
  uint64_t key_;
  bool lost_ = false;
};

// Sends nothing more once the lease is lost; otherwise asks `inner` (the
// throttles' gate) when there is one.
class LeaseGate final : public DeliveryGate {
 public:
  LeaseGate(LeaseWatch& watch, DeliveryGate* inner) : watch_(watch), inner_(inner) {}
  GateAnswer Before(const std::string& text, const Variant& to) override;
  void After(const std::string& text, const Variant& to, bool sent) override;

 private:
  LeaseWatch& watch_;
  DeliveryGate* inner_;
};

}  // namespace qz
