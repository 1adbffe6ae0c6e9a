// The built-in component "QzTerminal.cPager": pages through a paging
// terminal with TAP over a serial line, through a Hayes modem when the
// settings name a number. Properties PagerID, Message and Timeout, method
// SendPage. Settings come from QzNotes.ini at every SendPage. An instance
// is used on the thread that created it; registration is safe at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "automation/component_registry.h"
#include "automation/dispatch_object.h"
#include "gateways/delivery_parts.h"
#include "gateways/line_locks.h"
#include "gateways/terminal/tap_limits.h"

namespace qz {

inline constexpr std::string_view kTerminalPagerProgId = "QzTerminal.cPager";

class TerminalPager : public DispatchObject {
 public:
  // `locks`: asked for the line before it is opened; none: not asked.
  explicit TerminalPager(std::string folder, LineLocks* locks = nullptr)
      : folder_(std::move(folder)), locks_(locks) {}

  Variant GetProperty(std::string_view name) override;
  void SetProperty(std::string_view name, const Variant& value) override;
  // SendPage: pages Message to every entry of PagerID in one call to the
  // terminal and answers the number of pages accepted (a 32-bit integer).
  // Anything less than all raises kErrTerminal naming the identifiers not
  // accepted and the terminal's last words. A Null or empty entry, or one
  // that is not printable ASCII, is not sent and counts as not accepted.
  Variant CallMethod(std::string_view name, std::span<Variant> args) override;
  // How the last SendPage that raised is sorted: permanent only when the call
  // went through and every identifier not accepted can never be (refused by
  // the terminal, or not sendable at all).
  FailureKind LastFailureKind() const { return failure_kind_; }
  // The PagerID entries (by position from 0) the terminal accepted in the
  // last SendPage, including one that raised.
  const std::vector<int32_t>& AcceptedEntries() const { return accepted_entries_; }

 private:
  int32_t SendPage();

  std::string folder_;
  LineLocks* const locks_;
  Variant pager_ids_ = Variant::NoDimensions();
  std::string message_;
  int16_t timeout_ = tap::kDefaultPageTimeout;
  FailureKind failure_kind_ = FailureKind::kTransient;
  std::vector<int32_t> accepted_entries_;
};

// Registers the component for the server whose program folder is `folder`
// (again: the last registration counts).
void RegisterTerminalPager(ComponentRegistry& registry, std::string folder,
                           LineLocks* locks = nullptr);

}  // namespace qz
