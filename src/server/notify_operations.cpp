// The cNotify table: slot order, dispatch identifiers, parameters and the
// code every operation reaches.
#include "server/served_object.h"

namespace qz {
namespace {

using W = WireType;

cNotify& Notify(ServedObject& object) { return static_cast<NotifyObject&>(object).notify(); }

std::vector<Param> RequestParams(Param fifth) {
  return {{"lvarNotes", W::kVariant}, {"lvarEmail", W::kVariant}, {"lvarPager", W::kVariant},
          {"lvarAny", W::kVariant},   fifth,                      {"lstrTestID", W::kString}};
}

}  // namespace

ClassDescription MakeNotifyClass() {
  ClassDescription c{"cNotify",
                     "org.qznotes.QzNotes._cNotify",
                     {"org.qznotes.QzNotes.cNotify___v0", "org.qznotes.QzNotes.cNotify___v1",
                      "org.qznotes.QzNotes.cNotify___v2", "org.qznotes.QzNotes.cNotify___v3"},
                     true,
                     {}};
  c.operations = {
      {"SendMessageCallBack", 0x60030000, RequestParams({"lobjNotify", W::kObject}), W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).SendMessageCallBack(a[0], a[1], a[2], a[3], a[4].Object(), a[5].Text());
       }},
      {"GetMessageProfiles", 0x60030009, {}, W::kVariant, false,
       [](ServedObject& o, std::span<Variant>) { return Notify(o).GetMessageProfiles(); }},
      {"gvarGetSettings", 0x6003000A, {}, W::kVariant, false,
       [](ServedObject& o, std::span<Variant>) { return Notify(o).gvarGetSettings(); }},
      {"gblnSetSettings", 0x6003000C, {{"lvarSettings", W::kVariant}}, W::kBoolean, false,
       [](ServedObject& o, std::span<Variant> a) {
         return Variant::Boolean(Notify(o).gblnSetSettings(a[0]));
       }},
      {"gvarTestGateway", 0x6003000D, {{"Index", W::kInt16}, {"Mobile", W::kString}}, W::kVariant},
      {"gvarGetPagerSettings", 0x60030018, {{"Request", W::kInt16}}, W::kVariant, false,
       [](ServedObject& o, std::span<Variant> a) { return Notify(o).gvarGetPagerSettings(a[0].ToInt16()); }},
      {"gblnSetPagerSettings", 0x6003001A, {{"lintSection", W::kInt16}, {"lvarSettings", W::kVariant}},
       W::kBoolean, false,
       [](ServedObject& o, std::span<Variant> a) {
         return Variant::Boolean(Notify(o).gblnSetPagerSettings(a[0].ToInt16(), a[1]));
       }},
      {"gvarGetPagerSettingsEx", 0x60030026,
       {{"Request", W::kInt16}, {"lvarParams", W::kVariant, true, true}}, W::kVariant, false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).gvarGetPagerSettingsEx(a[0].ToInt16(), a[1]);
       }},
      {"gblnSetPagerSettingsEx", 0x60030028, {{"lstrSection", W::kString}, {"lvarSettings", W::kVariant}},
       W::kBoolean, false,
       [](ServedObject& o, std::span<Variant> a) {
         return Variant::Boolean(Notify(o).gblnSetPagerSettingsEx(a[0].Text(), a[1]));
       }},
      {"SendMessageCallBackEx", 0x6003002A, RequestParams({"lvarNotify", W::kVariant}), W::kVariant,
       false,
       [](ServedObject& o, std::span<Variant> a) {
         return Notify(o).SendMessageCallBackEx(a[0], a[1], a[2], a[3], a[4], a[5].Text());
       }},
  };
  return c;
}

}  // namespace qz
