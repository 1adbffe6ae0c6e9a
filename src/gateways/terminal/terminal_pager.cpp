#include "gateways/terminal/terminal_pager.h"

#include <memory>
#include <optional>

#include "automation/names.h"
#include "automation/run_time_error.h"
#include "gateways/terminal/hayes_modem.h"
#include "gateways/terminal/serial_line.h"
#include "gateways/terminal/tap_session.h"
#include "gateways/terminal/terminal_link.h"
#include "gateways/terminal/terminal_settings.h"

namespace qz {
namespace {

using tap::Clock;

// One entry of PagerID: what it is called in a description, and whether it
// can be sent at all.
struct Recipient {
  std::string identifier;
  std::string name;
  bool valid = false;
};

Recipient ToRecipient(const Variant& entry, size_t index) {
  if (entry.IsNull()) return {{}, "entry " + std::to_string(index) + " (Null)", false};
  std::string id = entry.Text();
  if (id.empty()) return {{}, "entry " + std::to_string(index) + " (empty)", false};
  bool printable = true;
  for (char c : id) printable = printable && c > ' ' && c <= '~';
  if (!printable)
    return {{}, "\"" + tap::TerminalLink::Printable(id) + "\" (not printable ASCII)", false};
  return {id, id, true};
}

std::string Describe(std::string_view failure, const std::vector<std::string>& not_accepted,
                     const std::string& last_words) {
  std::string d(failure);
  if (!not_accepted.empty()) {
    d += "; not accepted: ";
    for (size_t i = 0; i < not_accepted.size(); ++i) d += (i ? ", " : "") + not_accepted[i];
  }
  d += last_words.empty() ? "; the terminal said nothing"
                          : "; the terminal's last words: \"" + last_words + "\"";
  return d;
}

}  // namespace

Variant TerminalPager::GetProperty(std::string_view name) {
  if (AsciiCaseEqual(name, "PagerID")) return pager_ids_;
  if (AsciiCaseEqual(name, "Message")) return Variant(message_);
  if (AsciiCaseEqual(name, "Timeout")) return Variant(timeout_);
  return DispatchObject::GetProperty(name);
}

void TerminalPager::SetProperty(std::string_view name, const Variant& value) {
  if (AsciiCaseEqual(name, "PagerID")) {
    if (!value.IsArray()) throw RunTimeError(kErrTypeMismatch);
    pager_ids_ = value;
  } else if (AsciiCaseEqual(name, "Message")) {
    message_ = value.Text();
  } else if (AsciiCaseEqual(name, "Timeout")) {
    const int16_t seconds = value.ToInt16();
    if (seconds < 1) throw RunTimeError(kErrInvalidCall);
    timeout_ = seconds;
  } else {
    DispatchObject::SetProperty(name, value);
  }
}

Variant TerminalPager::CallMethod(std::string_view name, std::span<Variant> args) {
  if (!AsciiCaseEqual(name, "SendPage")) return DispatchObject::CallMethod(name, args);
  if (!args.empty()) throw RunTimeError(kErrWrongArguments);
  return Variant(SendPage());
}

int32_t TerminalPager::SendPage() {
  failure_kind_ = FailureKind::kTransient;
  accepted_entries_.clear();
  std::vector<Recipient> recipients;
  if (pager_ids_.kind() == Variant::Kind::Array)
    for (const Variant& entry : pager_ids_.Items())
      recipients.push_back(ToRecipient(entry, recipients.size()));
  if (recipients.empty()) return 0;

  const std::chrono::seconds page_timeout(timeout_);
  std::unique_ptr<LineHold> held;  // let go after the line is closed
  std::optional<tap::SerialLine> line;
  std::optional<tap::TerminalLink> link;
  std::optional<tap::HayesModem> modem;
  std::vector<std::string> not_accepted;
  bool only_refusals = true;  // every identifier not accepted will never be
  int32_t accepted = 0;
  size_t next = 0;
  std::string failure;
  try {
    const tap::TerminalSettings settings = tap::ReadTerminalSettings(folder_);
    if (locks_) {
      // Daemons elsewhere reach the same terminal by its number; a direct
      // line is known by its device.
      const std::string& name = settings.number.empty() ? settings.device : settings.number;
      std::string why;
      held = locks_->Hold(name, Clock::now() + page_timeout, why);
      if (!held)
        throw RunTimeError(tap::kErrTerminal, "line " + name + ": " + why,
                           std::string(kTerminalPagerProgId));
    }
    // A second caller on the same line waits for the first up to one page's time.
    line.emplace(tap::SerialLine::Open(settings.device, settings.line, settings.hand_shaking,
                                       Clock::now() + page_timeout));
    link.emplace(*line, settings.echo);
    std::unique_ptr<tap::TerminalDialogue> dialogue;
    if (settings.prompt_dialogue())
      dialogue = std::make_unique<tap::PromptSession>(*link, settings.get_nbr, settings.get_note,
                                                      page_timeout);
    else
      dialogue = std::make_unique<tap::TapSession>(*link, settings.password, page_timeout);
    if (!settings.number.empty()) {
      modem.emplace(*link);
      modem->Dial(settings.number);
    }
    dialogue->LogOn();
    for (; next < recipients.size(); ++next) {
      const Recipient& r = recipients[next];
      if (!r.valid) {
        not_accepted.push_back(r.name);
        continue;
      }
      tap::PageAnswer answer = dialogue->Page(r.identifier, message_);
      if (answer.accepted) {
        ++accepted;
        accepted_entries_.push_back(static_cast<int32_t>(next));
      } else {
        not_accepted.push_back(r.name + " (" + answer.why + ")");
        only_refusals = only_refusals && answer.refused;
      }
    }
    dialogue->LogOff();
  } catch (const RunTimeError& e) {
    failure = e.description();
    for (; next < recipients.size(); ++next) not_accepted.push_back(recipients[next].name);
  }
  if (modem) modem->HangUp();
  if (failure.empty() && not_accepted.empty()) return accepted;
  failure_kind_ =
      failure.empty() && only_refusals ? FailureKind::kPermanent : FailureKind::kTransient;
  if (failure.empty())
    failure = "the terminal accepted " + std::to_string(accepted) + " of " +
              std::to_string(recipients.size()) + " pages";
  throw RunTimeError(tap::kErrTerminal,
                     Describe(failure, not_accepted, link ? link->LastWords() : ""),
                     std::string(kTerminalPagerProgId));
}

void RegisterTerminalPager(ComponentRegistry& registry, std::string folder, LineLocks* locks) {
  registry.Register(kTerminalPagerProgId, [folder = std::move(folder), locks](std::string_view) {
    return std::make_shared<TerminalPager>(folder, locks);
  });
}

}  // namespace qz
