#include "client/request_arrays.h"

#include "client/wire_markers.h"

namespace qz::client {
namespace {

GVariant* Text(const std::string& s) {
  return g_variant_new_variant(g_variant_new_string(s.c_str()));
}

// Every level is `av`, the array type the server reads as its own.
class ArrayOfVariants {
 public:
  ArrayOfVariants() { g_variant_builder_init(&builder_, G_VARIANT_TYPE("av")); }
  ~ArrayOfVariants() { g_variant_builder_clear(&builder_); }
  ArrayOfVariants(const ArrayOfVariants&) = delete;
  ArrayOfVariants& operator=(const ArrayOfVariants&) = delete;

  void Add(GVariant* element_v) { g_variant_builder_add_value(&builder_, element_v); }
  // A floating `v` holding the array.
  GVariant* End() { return g_variant_new_variant(g_variant_builder_end(&builder_)); }

 private:
  GVariantBuilder builder_;
};

template <typename PickTexts>
VariantPtr ThreeLevels(const SendCommand& send, PickTexts pick) {
  ArrayOfVariants groups;
  for (const Group& g : send.groups) {
    ArrayOfVariants lists;
    for (const Message& m : g.messages) {
      ArrayOfVariants recipients;
      for (const std::string& r : pick(m)) recipients.Add(Text(r));
      lists.Add(recipients.End());
    }
    groups.Add(lists.End());
  }
  return Own(groups.End());
}

VariantPtr Notes(const SendCommand& send) {
  ArrayOfVariants groups;
  for (const Group& g : send.groups) {
    ArrayOfVariants messages;
    for (const Message& m : g.messages) messages.Add(Text(m.text));
    groups.Add(messages.End());
  }
  return Own(groups.End());
}

VariantPtr MailArray(const MailOptions& mail) {
  if (!mail.given) return Own(NewMarker(Marker::kEmpty));
  ArrayOfVariants options;
  for (const std::string* s : {&mail.subject, &mail.from, &mail.profile, &mail.smtp_server})
    options.Add(Text(*s));
  options.Add(Text(mail.prefer_smtp ? "True" : "False"));
  return Own(options.End());
}

}  // namespace

RequestArrays BuildRequestArrays(const SendCommand& send) {
  return RequestArrays{
      Notes(send),
      ThreeLevels(
          send, [](const Message& m) -> const auto& { return m.emails; }),
      ThreeLevels(
          send, [](const Message& m) -> const auto& { return m.pagers; }),
      MailArray(send.mail),
  };
}

}  // namespace qz::client
