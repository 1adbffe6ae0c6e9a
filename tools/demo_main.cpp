// qznotes-demo: submits one notification request in-process, the way a
// client of the server would, and prints what the callback receives about a
// second later. Stands in for the daemon until the D-Bus server exists.
//
//   qznotes-demo --folder DIR [--test-id ID] [--message TEXT] [--pager NUMBER]
#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <string>

#include "automation/apartment.h"
#include "automation/component_registry.h"
#include "automation/names.h"
#include "config/settings_path.h"
#include "diagnostics/log_file.h"
#include "dispatch/c_notify.h"
#include "dispatch/server_channels.h"
#include "platform/seat.h"

namespace {

using qz::Variant;

// The client's callback object: records the message and the thread it came on.
class PrintingCallback : public qz::DispatchObject {
 public:
  Variant CallMethod(std::string_view name, std::span<Variant> args) override {
    if (!qz::NamesEqual(name, "gsubAgentCallBack") || args.size() != 2)
      return DispatchObject::CallMethod(name, args);
    char thread[16] = {};
    pthread_getname_np(pthread_self(), thread, sizeof thread);
    done_.set_value(Received{args[0].Text(), args[1].Text(), thread});
    return {};
  }
  struct Received {
    std::string test_id, message, thread;
  };
  std::future<Received> Result() { return done_.get_future(); }

 private:
  std::promise<Received> done_;
};

int Usage() {
  std::cerr << "usage: qznotes-demo --folder DIR [--test-id ID] [--message TEXT] [--pager NUMBER]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder, test_id = "demo-1", message = "Disk /var on db1 is 95% full\r\nC:\\logs",
                      pager = "5551234";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--folder") folder = argv[++i];
    else if (arg == "--test-id") test_id = argv[++i];
    else if (arg == "--message") message = argv[++i];
    else if (arg == "--pager") pager = argv[++i];
    else return Usage();
  }
  if (folder.empty()) return Usage();

  qz::ComponentRegistry components;
  qz::ServerChannels channels;
  qz::LoginSeatProbe seat;
  qz::ServerEnvironment env{folder, components, channels, seat};
  qz::Apartment apartment("qz-demo-apt");
  auto callback = std::make_shared<PrintingCallback>();
  auto received = callback->Result();

  auto group = [](Variant v) { return Variant::Array({Variant::Array({std::move(v)})}); };
  Variant notes = group(Variant(message));
  Variant emails = group(Variant::Array({Variant("ops@example.org")}));
  Variant pagers = group(Variant::Array({Variant(pager)}));
  Variant options = Variant::Array({Variant("QzNotes demonstration"), Variant("qznotes@localhost"),
                                    Variant(""), Variant("localhost"), Variant("True")});

  auto start = std::chrono::steady_clock::now();
  std::unique_ptr<qz::cNotify> notify;
  Variant answer = apartment.Call([&] {
    notify = std::make_unique<qz::cNotify>(env, apartment.context(), &apartment.deliveries());
    return notify->SendMessageCallBack(notes, emails, pagers, options, callback, test_id);
  });
  std::cout << "request " << test_id << " answered: \"" << answer.Text() << "\"\n";

  if (received.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::cerr << "no callback within 10 s\n";
    return 1;
  }
  auto got = received.get();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::cout << "callback after " << ms.count() << " ms on thread " << got.thread
            << ": gsubAgentCallBack(\"" << got.test_id << "\", \"" << got.message << "\")\n";
  apartment.Call([&] { notify.reset(); });

  std::ifstream log(qz::SettingsPath(folder, qz::kLogFileName), std::ios::binary);
  if (log) {
    std::stringstream text;
    text << log.rdbuf();
    std::cout << "log " << qz::SettingsPath(folder, qz::kLogFileName) << ":\n" << text.str();
  }
  return 0;
}
