#include "client/option_set.h"

#include "platform/holders.h"

namespace qz::client {
namespace {

bool IsUtf8(std::string_view text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

// "-1" is a number (an INDEX, a dispatch identifier), not an option.
bool LooksLikeOption(std::string_view word) {
  return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

}  // namespace

OptionSet::OptionSet(GlobalOptions& global) : global_(global) {
  Flag("help", 'h', [this] { help_ = true; });
  AddGlobalOptions();
}

void OptionSet::AddGlobalOptions() {
  auto choose = [this](BusKind kind, std::string address) {
    if (global_.bus != BusKind::kSession && (global_.bus != kind || global_.address != address))
      return Fail("choose one of --session, --system and --address");
    global_.bus = kind;
    global_.address = std::move(address);
  };
  Flag("session", 0, [choose] { choose(BusKind::kSession, ""); });
  Flag("system", 0, [choose] { choose(BusKind::kSystem, ""); });
  Value("address", 0, [this, choose](std::string value) {
    if (value.empty()) return Fail("--address needs a bus address");
    choose(BusKind::kAddress, std::move(value));
  });
  Value("dest", 0, [this](std::string value) {
    if (value.empty()) return Fail("--dest needs a bus name");
    global_.destination = std::move(value);
  });
  Flag("json", 0, [this] { global_.json = true; });
  auto text = [this](const char* option, std::string& field) {
    return [this, option, &field](std::string value) {
      if (value.empty()) return Fail(std::string("--") + option + " needs a value");
      field = std::move(value);
    };
  };
  Value("url", 0, text("url", global_.url));
  Value("token-file", 0, text("token-file", global_.token_file));
  Value("cacert", 0, text("cacert", global_.cacert));
  Flag("insecure", 0, [this] { global_.insecure = true; });
}

void OptionSet::Flag(const char* long_name, char short_name, FlagHandler handler) {
  entries_.push_back(Entry{long_name, short_name, false, std::move(handler), nullptr});
}

void OptionSet::Value(const char* long_name, char short_name, ValueHandler handler) {
  entries_.push_back(Entry{long_name, short_name, true, nullptr, std::move(handler)});
}

void OptionSet::Fail(std::string reason) {
  if (status_.ok()) status_ = Status::InvalidArgument(std::move(reason));
}

const OptionSet::Entry* OptionSet::Find(std::string_view option_name) const {
  // GOption names the option as it was written: "--message" or "-m".
  for (const Entry& e : entries_) {
    if (option_name == "--" + e.long_name) return &e;
    if (e.short_name && option_name.size() == 2 && option_name[1] == e.short_name) return &e;
  }
  return nullptr;
}

gboolean OptionSet::Take(const gchar* option_name, const gchar* value, gpointer data,
                         GError** error) {
  auto* self = static_cast<OptionSet*>(data);
  const Entry* entry = self->Find(option_name);
  if (!entry) {
    self->Fail(std::string("unknown option ") + option_name);
  } else if (!entry->takes_value) {
    entry->flag();
  } else if (!IsUtf8(value)) {
    self->Fail(std::string("the value of ") + option_name + " is not valid UTF-8");
  } else {
    entry->value(value);
  }
  // --help ends the reading as an error would: what follows is not looked at.
  if (!self->failed() && !self->help_) return TRUE;
  g_set_error_literal(error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED,
                      self->help_ ? "help" : self->status_.message().c_str());
  return FALSE;
}

std::vector<std::string> OptionSet::Parse(std::span<const std::string_view> words) {
  std::vector<GOptionEntry> table;
  for (const Entry& e : entries_) {
    const int flags = e.takes_value ? G_OPTION_FLAG_FILENAME : G_OPTION_FLAG_NO_ARG;
    table.push_back(GOptionEntry{e.long_name.c_str(), e.short_name, flags, G_OPTION_ARG_CALLBACK,
                                 reinterpret_cast<gpointer>(&OptionSet::Take), nullptr, nullptr});
  }
  table.push_back(GOptionEntry{nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr});

  OptionContextPtr context(g_option_context_new(nullptr));
  // Help is ours (hand-written per command, printed to the console given);
  // GOption's own would print and exit inside the parse.
  g_option_context_set_help_enabled(context.get(), FALSE);
  g_option_context_set_strict_posix(context.get(), stop_at_first_word_);
  // Unknown options stay in the words, so that a negative number can be a
  // word; the walk below refuses the others.
  g_option_context_set_ignore_unknown_options(context.get(), TRUE);
  GOptionGroup* group = g_option_group_new("qznotes", "", "", this, nullptr);
  g_option_group_add_entries(group, table.data());
  g_option_context_set_main_group(context.get(), group);  // the context owns it

  std::vector<std::string> storage = {"qznotes"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(storage.size());
  char** argv_data = argv.data();
  ErrorPtr parse_error;
  const bool parsed =
      g_option_context_parse(context.get(), &argc, &argv_data, ErrorSlot(parse_error));
  if (help_) {
    status_ = Status();
    return {};
  }
  if (!parsed) {
    Fail(ErrorText(parse_error));
    return {};
  }
  // What GOption left, in order: words, unknown options and "--" (kept
  // when a word after it starts with '-').
  std::vector<std::string> positional;
  bool options_ended = false;
  for (int k = 1; k < argc; ++k) {
    const std::string_view word = argv_data[k];
    if (!options_ended && word == "--") {
      options_ended = true;
      continue;
    }
    if (!options_ended && LooksLikeOption(word)) {
      Fail("Unknown option " + std::string(word));
      return {};
    }
    if (check_words_ && !IsUtf8(word)) {
      Fail("an argument is not valid UTF-8");
      return {};
    }
    positional.emplace_back(word);
    // After the first word everything is a word ("call OPERATION ARGS").
    options_ended = options_ended || stop_at_first_word_;
  }
  return positional;
}

}  // namespace qz::client
