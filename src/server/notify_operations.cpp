// The cNotify table: slot order, dispatch identifiers, parameters and the
// code every operation reaches, and the served object that holds a cNotify.
#include <memory>
#include <string>

#include "dispatch/c_notify.h"
#include "server/secret_blanking.h"
#include "server/served_classes.h"
#include "server/served_object.h"

namespace qz {
namespace {

using W = WireType;

class NotifyObject final : public ServedObject {
 public:
  explicit NotifyObject(const ObjectSeat& seat)
      : notify_(seat.env, seat.context, seat.deliveries, seat.path, seat.owner) {}
  cNotify& notify() { return notify_; }

  bool HasPendingWork() const override { return notify_.HasPendingRequest(); }
  std::string PendingWorkName() const override {
    return "request " + std::string(notify_.TestId());
  }
  uint64_t PendingJournalKey() const override { return notify_.JournalKey(); }
  bool WaitsForRetry() const override { return notify_.WaitsForRetry(); }
  bool ResumeRequest(const RequestRecord& record, uint64_t key,
                     std::shared_ptr<DispatchObject> callback) override {
    notify_.ResumeRequest(record, key, std::move(callback));
    return true;
  }
  // A request waiting for a retry is not tried early: the journal keeps it
  // for the next run, and the stop need not wait for a peer that is down.
  void FinishPendingWork() override {
    if (!notify_.WaitsForRetry()) notify_.NotesTimer_Timer();
  }
  void SetOutcomeSink(OutcomeSink sink) override { notify_.SetOutcomeListener(std::move(sink)); }
  std::optional<WaitingRequest> HandOverWaitingRequest() override {
    WaitingRequest waiting;
    if (!notify_.HandOverWaitingRequest(waiting.record, waiting.key, waiting.callback))
      return std::nullopt;
    return waiting;
  }

 private:
  cNotify notify_;
};

cNotify& Notify(ServedObject& object) { return static_cast<NotifyObject&>(object).notify(); }

std::vector<Param> RequestParams(Param fifth) {
  return {{"lvarNotes", W::kVariant},
          {"lvarEmail", W::kVariant},
          {"lvarPager", W::kVariant},
          {"lvarAny", W::kVariant},
          fifth,
          {"lstrTestID", W::kString}};
}

// An accepted or refused request is worth a line; the test identifier is
// the sixth argument of both request calls.
std::string RequestLogLine(std::string_view name, std::span<const Variant> args,
                           const Variant& result) {
  return std::string(name) + " " + args[5].Text() + ": " + result.Text();
}

// A settings write is logged with its caller (added by the boundary); the
// values are left out, since they may hold a gateway's password.
CallLogLine SettingsWriteLine(std::string_view name, int target) {
  return [name, target](std::span<const Variant> a, const Variant& r) {
    std::string line = "settings write " + std::string(name);
    if (target >= 0) line.append(" ").append(a[target].Text());
    return line + ": " + r.Text();
  };
}

// A settings read's answer without its secrets: its elements are the values
// of `keys`, or of the group its Request code (the first argument) names.
AnswerFilter Blanked(std::span<const SettingKey> keys) {
  return [keys](std::span<const Variant>, const Variant& r) { return BlankedSettings(r, keys); };
}
AnswerFilter BlankedByRequest() {
  return [](std::span<const Variant> a, const Variant& r) {
    return BlankedSettings(r, PagerSettingsKeys(a[0].ToInt16()));
  };
}
constexpr size_t kMailOptions = 3;  // lvarAny

ClassDescription MakeNotifyClass() {
  ClassDescription c{"cNotify",
                     kNotifyInterface,
                     {std::begin(kNotifyVersionInterfaces), std::end(kNotifyVersionInterfaces)},
                     {},
                     [](const ObjectSeat& seat) { return std::make_unique<NotifyObject>(seat); },
                     true};
  c.operations = {
      {"SendMessageCallBack", 0x60030000, RequestParams({"lobjNotify", W::kObject}), W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).SendMessageCallBack(a[0], a[1], a[2], a[3], a[4].Object(), a[5].Text());
       },
       [](std::span<const Variant> a, const Variant& r) {
         return RequestLogLine("SendMessageCallBack", a, r);
       },
       /*changes_settings=*/false,
       /*request=*/true,
       /*outsider_answer=*/nullptr, kMailOptions},
      {"GetMessageProfiles",
       0x60030009,
       {},
       W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant>) { return Notify(o).GetMessageProfiles(); },
       /*log_line=*/nullptr,
       /*changes_settings=*/false,
       /*request=*/false,
       Blanked({})},
      {"gvarGetSettings",
       0x6003000A,
       {},
       W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant>) { return Notify(o).gvarGetSettings(); },
       /*log_line=*/nullptr,
       /*changes_settings=*/false,
       /*request=*/false,
       Blanked(kPagerTerminalGroup)},
      {"gblnSetSettings",
       0x6003000C,
       {{"lvarSettings", W::kVariant}},
       W::kBoolean,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Variant::Boolean(Notify(o).gblnSetSettings(a[0]));
       },
       SettingsWriteLine("gblnSetSettings", -1),
       /*changes_settings=*/true},
      {"gvarTestGateway",
       0x6003000D,
       {{"Index", W::kInt16}, {"Mobile", W::kString}},
       W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).gvarTestGateway(a[0].ToInt16(), a[1].Text());
       }},
      {"gvarGetPagerSettings",
       0x60030018,
       {{"Request", W::kInt16}},
       W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).gvarGetPagerSettings(a[0].ToInt16());
       },
       /*log_line=*/nullptr,
       /*changes_settings=*/false,
       /*request=*/false,
       BlankedByRequest()},
      {"gblnSetPagerSettings",
       0x6003001A,
       {{"lintSection", W::kInt16}, {"lvarSettings", W::kVariant}},
       W::kBoolean,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Variant::Boolean(Notify(o).gblnSetPagerSettings(a[0].ToInt16(), a[1]));
       },
       SettingsWriteLine("gblnSetPagerSettings", 0),
       /*changes_settings=*/true},
      {"gvarGetPagerSettingsEx",
       0x60030026,
       {{"Request", W::kInt16}, {"lvarParams", W::kVariant, true, true}},
       W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).gvarGetPagerSettingsEx(a[0].ToInt16(), a[1]);
       },
       /*log_line=*/nullptr,
       /*changes_settings=*/false,
       /*request=*/false,
       BlankedByRequest()},
      {"gblnSetPagerSettingsEx",
       0x60030028,
       {{"lstrSection", W::kString}, {"lvarSettings", W::kVariant}},
       W::kBoolean,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Variant::Boolean(Notify(o).gblnSetPagerSettingsEx(a[0].Text(), a[1]));
       },
       SettingsWriteLine("gblnSetPagerSettingsEx", 0),
       /*changes_settings=*/true},
      {"SendMessageCallBackEx", 0x6003002A, RequestParams({"lvarNotify", W::kVariant}), W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).SendMessageCallBackEx(a[0], a[1], a[2], a[3], a[4], a[5].Text());
       },
       [](std::span<const Variant> a, const Variant& r) {
         return RequestLogLine("SendMessageCallBackEx", a, r);
       },
       /*changes_settings=*/false,
       /*request=*/true,
       /*outsider_answer=*/nullptr, kMailOptions},
  };
  return c;
}

}  // namespace

const ClassDescription& NotifyClass() {
  static const ClassDescription table = MakeNotifyClass();
  return table;
}

}  // namespace qz
