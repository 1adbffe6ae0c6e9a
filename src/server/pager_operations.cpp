// The cPager table. Its operations answer 445 until the SNPP client is
// served behind them.
#include <memory>

#include "server/served_classes.h"
#include "server/served_object.h"

namespace qz {
namespace {

using W = WireType;

ClassDescription MakePagerClass() {
  return {"cPager",
          kPagerInterface,
          {},
          {
              {"Connect", 0x60030005, {}, W::kBoolean},
              {"SendPage", 0x60030006, {{"lstrPage", W::kString}, {"lstrMessage", W::kString}}, W::kBoolean},
              {"IsSocketConnected", 0x6003000A, {}, W::kBoolean},
          },
          [](const ObjectSeat&) { return std::make_unique<ServedObject>(); }};
}

}  // namespace

const ClassDescription& PagerClass() {
  static const ClassDescription table = MakePagerClass();
  return table;
}

}  // namespace qz
