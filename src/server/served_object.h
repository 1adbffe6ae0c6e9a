// The objects the server hands out: a class description plus the object the
// operations run on. Created, called and destroyed on the thread of their
// apartment.
#pragma once

#include <memory>
#include <string>

#include "dispatch/c_notify.h"
#include "paging/c_pager.h"
#include "server/class_table.h"

namespace qz {

class ServedObject {
 public:
  explicit ServedObject(const ClassDescription& description) : description_(description) {}
  virtual ~ServedObject() = default;
  const ClassDescription& description() const { return description_; }

 private:
  const ClassDescription& description_;
};

class NotifyObject final : public ServedObject {
 public:
  NotifyObject(const ServerEnvironment& env, GMainContext* context, std::atomic<int>* deliveries)
      : ServedObject(NotifyClass()), notify_(env, context, deliveries) {}
  cNotify& notify() { return notify_; }

 private:
  cNotify notify_;
};

// A client's cPager: host, port and timeout cannot be set from outside.
class PagerObject final : public ServedObject {
 public:
  PagerObject() : ServedObject(PagerClass()) {}
  cPager& pager() { return pager_; }

 private:
  cPager pager_;
};

// Builds the cNotify table; defined with the operations it reaches.
ClassDescription MakeNotifyClass();

}  // namespace qz
