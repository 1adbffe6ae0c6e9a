// The operations of one interface as the daemon's introspection XML describes
// them: names, parameter types, by-reference out-arguments and dispatch
// identifiers. Plain values built once per call; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::client {

struct Parameter {
  std::string name;
  std::string signature;  // one complete D-Bus type
};

struct Operation {
  std::string name;
  std::optional<int32_t> dispid;  // from the org.qznotes.QzNotes.DispId annotation
  std::vector<Parameter> in;
  std::vector<Parameter> out;  // "result" first when there is one, then by-reference values
};

// The operations of `interface_name` in `xml`; an error text when the XML
// does not parse or lacks the interface.
struct OperationList {
  std::vector<Operation> operations;
  std::string error;
};
OperationList ReadOperations(std::string_view xml, std::string_view interface_name);

// Operation names are matched regardless of letter case, as late-bound calls
// by name are.
const Operation* FindByName(const std::vector<Operation>& ops, std::string_view name);
const Operation* FindByDispId(const std::vector<Operation>& ops, int32_t dispid);

// A dispatch identifier written as 0x hexadecimal (as the annotation shows
// it, up to 32 bits) or as a signed decimal; nullopt for anything else.
std::optional<int32_t> ParseDispId(std::string_view text);

// "gvarTestGateway(n Index, s Mobile)" for usage messages.
std::string Describe(const Operation& op);

}  // namespace qz::client
