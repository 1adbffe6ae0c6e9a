#include "server/call_arguments.h"

#include <cstring>

#include "automation/run_time_error.h"
#include "platform/holders.h"

namespace qz {
namespace {

[[noreturn]] void RaiseArgument(int32_t number) { throw RunTimeError(number, kBoundarySource); }

Variant Typed(const Param& param, GVariant* value, const ObjectResolver& resolve) {
  auto require = [&](const char* type) {
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE(type))) RaiseArgument(kErrTypeMismatch);
  };
  switch (param.type) {
    case WireType::kVariant:
      return FromWire(value, resolve);
    case WireType::kInt16:
      require("n");
      return Variant(g_variant_get_int16(value));
    case WireType::kInt32:
      require("i");
      return Variant(g_variant_get_int32(value));
    case WireType::kBoolean:
      require("b");
      return Variant::Boolean(g_variant_get_boolean(value));
    case WireType::kString: {
      require("s");
      gsize length = 0;
      const char* text = g_variant_get_string(value, &length);
      return Variant(std::string_view(text, length));
    }
    case WireType::kObject:
      require("(so)");
      return FromWire(value, resolve);
  }
  RaiseArgument(kErrTypeMismatch);
}

void CheckCount(const Operation& op, size_t given) {
  if (given > op.params.size() || given < op.RequiredParams()) RaiseArgument(kErrWrongArguments);
}

std::vector<Variant> CollectArguments(const Operation& op, GVariant* container, bool boxed,
                                      const ObjectResolver& resolve) {
  size_t given = g_variant_n_children(container);
  CheckCount(op, given);
  std::vector<Variant> args;
  args.reserve(op.params.size());
  for (size_t i = 0; i < given; ++i) {
    VariantPtr child(g_variant_get_child_value(container, i));
    if (boxed) {
      VariantPtr inner(g_variant_get_variant(child.get()));
      args.push_back(Typed(op.params[i], inner.get(), resolve));
    } else {
      args.push_back(Typed(op.params[i], child.get(), resolve));
    }
  }
  while (args.size() < op.params.size()) args.push_back(Variant::Missing());
  return args;
}

GVariant* TypedValue(WireType type, const Variant& value) {
  switch (type) {
    case WireType::kVariant:
      return ToWireVariant(value);
    case WireType::kBoolean:
      return g_variant_new_boolean(value.BooleanValue());
    case WireType::kString:
      return WireString(value.Text());
    case WireType::kInt16:
      return g_variant_new_int16(value.ToInt16());
    case WireType::kInt32:
      return g_variant_new_int32(value.ToInt32());
    case WireType::kObject:
      return ToWire(value);
  }
  return ToWireVariant(value);
}

}  // namespace

void RequireSignature(GDBusMessage* call, const char* signature) {
  GVariant* body = g_dbus_message_get_body(call);
  const char* actual = body ? g_variant_get_type_string(body) : "()";
  if (std::strcmp(actual, signature) == 0) return;
  size_t given = body ? g_variant_n_children(body) : 0;
  size_t wanted = g_variant_type_n_items(G_VARIANT_TYPE(signature));
  throw RunTimeError(given == wanted ? kErrTypeMismatch : kErrWrongArguments, kBoundarySource);
}

std::vector<Variant> ArgumentsFromNamedCall(const Operation& op, GVariant* body,
                                            const ObjectResolver& resolve) {
  if (!body) {
    CheckCount(op, 0);
    return std::vector<Variant>(op.params.size(), Variant::Missing());
  }
  return CollectArguments(op, body, false, resolve);
}

std::vector<Variant> ArgumentsFromInvoke(const Operation& op, GVariant* args,
                                         const ObjectResolver& resolve) {
  return CollectArguments(op, args, true, resolve);
}

GVariant* NamedReply(const Operation& op, const Variant& result, std::span<const Variant> args) {
  GVariantBuilder reply;
  g_variant_builder_init(&reply, G_VARIANT_TYPE_TUPLE);
  if (op.result) g_variant_builder_add_value(&reply, TypedValue(*op.result, result));
  for (size_t i = 0; i < op.params.size(); ++i)
    if (op.params[i].by_ref)
      g_variant_builder_add_value(&reply, TypedValue(op.params[i].type, args[i]));
  return g_variant_builder_end(&reply);
}

GVariant* InvokeReply(const Operation& op, const Variant& result, std::span<const Variant> args) {
  GVariantBuilder byref;
  g_variant_builder_init(&byref, G_VARIANT_TYPE("av"));
  for (size_t i = 0; i < op.params.size(); ++i)
    if (op.params[i].by_ref) g_variant_builder_add_value(&byref, ToWireVariant(args[i]));
  return g_variant_new("(@vav)", ToWireVariant(result), &byref);
}

}  // namespace qz
