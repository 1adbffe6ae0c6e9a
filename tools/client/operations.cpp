#include "client/operations.h"

#include <gio/gio.h>

#include <charconv>

#include "contract/contract.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

std::vector<Parameter> ParametersOf(GDBusArgInfo** args) {
  std::vector<Parameter> params;
  for (; args && *args; ++args)
    params.push_back({(*args)->name ? (*args)->name : "", (*args)->signature});
  return params;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

OperationList ReadOperations(std::string_view xml, std::string_view interface_name) {
  OperationList list;
  ErrorPtr error;
  NodeInfoPtr node(g_dbus_node_info_new_for_xml(std::string(xml).c_str(), ErrorSlot(error)));
  if (!node) {
    list.error = std::string("introspection XML does not parse: ") + error->message;
    return list;
  }
  GDBusInterfaceInfo* iface =
      g_dbus_node_info_lookup_interface(node.get(), std::string(interface_name).c_str());
  if (!iface) {
    list.error = "the object has no interface " + std::string(interface_name);
    return list;
  }
  for (GDBusMethodInfo** m = iface->methods; m && *m; ++m) {
    Operation op{(*m)->name, std::nullopt, ParametersOf((*m)->in_args),
                 ParametersOf((*m)->out_args)};
    if (const char* id = g_dbus_annotation_info_lookup((*m)->annotations, kDispIdAnnotation))
      op.dispid = ParseDispId(id);
    list.operations.push_back(std::move(op));
  }
  return list;
}

const Operation* FindByName(const std::vector<Operation>& ops, std::string_view name) {
  for (const auto& op : ops) {
    if (EqualIgnoringCase(op.name, name)) return &op;
  }
  return nullptr;
}

const Operation* FindByDispId(const std::vector<Operation>& ops, int32_t dispid) {
  for (const auto& op : ops) {
    if (op.dispid == dispid) return &op;
  }
  return nullptr;
}

std::optional<int32_t> ParseDispId(std::string_view text) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint32_t bits = 0;
    auto [end, ec] = std::from_chars(first + 2, last, bits, 16);
    if (ec != std::errc() || end != last) return std::nullopt;
    return static_cast<int32_t>(bits);  // identifiers above 0x7FFFFFFF are negative on the wire
  }
  int32_t value = 0;
  auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last) return std::nullopt;
  return value;
}

std::string Describe(const Operation& op) {
  std::string text = op.name + "(";
  for (size_t k = 0; k < op.in.size(); ++k) {
    if (k > 0) text += ", ";
    text += op.in[k].signature + " " + op.in[k].name;
  }
  return text + ")";
}

}  // namespace qz::client
