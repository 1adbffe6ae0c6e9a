// One object of the server: created through the class factory, called by
// interface and method name, and released when the holder goes (releasing
// cancels a request the server has not dispatched yet). Used from the main
// thread only; calls block until the server answers.
#pragma once

#include <gio/gio.h>

#include <string>
#include <string_view>

#include "contract/contract.h"
#include "platform/holders.h"

namespace qz::client {

// One method call to `destination`; `parameters` may be floating.
VariantPtr CallMethod(GDBusConnection* connection, std::string_view destination,
                      std::string_view path, std::string_view interface_name,
                      std::string_view method, GVariant* parameters, ErrorPtr& error);

// The one string of a `(s)` or `(o)` reply; false with `error` set when the
// reply has another type (`what` names the operation in the message).
bool OneStringReply(GVariant* reply, const char* type, const char* what, std::string& out,
                    ErrorPtr& error);

class ServerObject {
 public:
  ServerObject(GDBusConnection* connection, std::string destination)
      : connection_(connection), destination_(std::move(destination)) {}
  ~ServerObject() { Release(); }
  ServerObject(const ServerObject&) = delete;
  ServerObject& operator=(const ServerObject&) = delete;

  // CreateObject("QzNotes.<class_name>").
  bool Create(std::string_view class_name, ErrorPtr& error);
  VariantPtr Call(std::string_view interface_name, std::string_view method, GVariant* parameters,
                  ErrorPtr& error) const;
  // Gives back the reference CreateObject handed out; later calls do nothing.
  void Release();

  const std::string& path() const { return path_; }

 private:
  GDBusConnection* connection_;
  std::string destination_;
  std::string path_;
};

}  // namespace qz::client
