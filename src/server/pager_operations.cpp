// The cPager table and the served object that holds a client's cPager. Its
// host, port and timeout cannot be set from outside, so Connect fails on the
// empty port as the SNPP client says.
#include <memory>

#include "gateways/snpp/c_pager.h"
#include "server/served_classes.h"
#include "server/served_object.h"

namespace qz {
namespace {

using PagerW = WireType;

class PagerObject final : public ServedObject {
 public:
  cPager& pager() { return pager_; }

 private:
  cPager pager_;
};

cPager& Pager(ServedObject& object) { return static_cast<PagerObject&>(object).pager(); }

ClassDescription MakePagerClass() {
  return {"cPager",
          kPagerInterface,
          {},
          {
              {"Connect",
               0x60030005,
               {},
               PagerW::kBoolean,
               false,
               [](ServedObject& o, std::span<Variant>) {
                 return Variant::Boolean(Pager(o).Connect());
               }},
              {"SendPage",
               0x60030006,
               {{"lstrPage", PagerW::kString}, {"lstrMessage", PagerW::kString}},
               PagerW::kBoolean,
               false,
               [](ServedObject& o, std::span<Variant> a) {
                 return Variant::Boolean(Pager(o).SendPage(a[0].Text(), a[1].Text()));
               }},
              {"IsSocketConnected",
               0x6003000A,
               {},
               PagerW::kBoolean,
               false,
               [](ServedObject& o, std::span<Variant>) {
                 return Variant::Boolean(Pager(o).IsSocketConnected());
               }},
          },
          [](const ObjectSeat&) { return std::make_unique<PagerObject>(); }};
}

}  // namespace

const ClassDescription& PagerClass() {
  static const ClassDescription table = MakePagerClass();
  return table;
}

}  // namespace qz
