// qznotes-tap-sim: a Hayes modem and TAP paging terminal on a
// pseudo-terminal, for tests and for trying the pager terminal component
// without hardware.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>

#include "pty_line.h"
#include "sim_script.h"
#include "terminal_sim.h"

namespace {

volatile sig_atomic_t g_stop = 0;  // set by SIGTERM / SIGINT only

constexpr const char* kUsage =
    "usage: qznotes-tap-sim --link PATH [--script FILE] [--record FILE]\n"
    "                       [--calls FILE] [--baud N]\n"
    "  --link PATH     make PATH a symbolic link to the simulated terminal's line;\n"
    "                  point ComPort of [Pager Terminal] in QzNotes.ini at it\n"
    "  --script FILE   how the modem and the terminal behave (directives below)\n"
    "  --record FILE   append every accepted page as a line: ID, TAB, text\n"
    "                  (control characters and \\ written as \\xHH)\n"
    "  --calls FILE    append a line as each call begins and as it ends: 'begin'\n"
    "                  or 'end', TAB, milliseconds since 1970 (from CONNECT, or a\n"
    "                  direct line's first CR, until either side hangs up)\n"
    "  --baud N        carry the line at N bit/s (overrides the script's baud)\n"
    "Runs until SIGTERM or SIGINT, serving one call after another.\n\n";

std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == '\\' || c == 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, script_file, record_file, calls_file, baud_text;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage << qz::tapsim::kScriptHelp;
      return 0;
    } else if (a == "--link" && has_value) {
      link = argv[++i];
    } else if (a == "--script" && has_value) {
      script_file = argv[++i];
    } else if (a == "--record" && has_value) {
      record_file = argv[++i];
    } else if (a == "--calls" && has_value) {
      calls_file = argv[++i];
    } else if (a == "--baud" && has_value) {
      baud_text = argv[++i];
    } else {
      std::cerr << "qznotes-tap-sim: bad argument '" << a << "'\n" << kUsage;
      return 2;
    }
  }
  if (link.empty()) {
    std::cerr << "qznotes-tap-sim: --link PATH is required\n" << kUsage;
    return 2;
  }
  std::string text;
  if (!script_file.empty()) {
    std::ifstream in(script_file);
    if (!in) {
      std::cerr << "qznotes-tap-sim: cannot read " << script_file << "\n";
      return 2;
    }
    std::stringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  qz::Status status;
  std::optional<qz::tapsim::SimScript> script = qz::tapsim::ParseScript(text, status);
  if (!script) {
    std::cerr << "qznotes-tap-sim: " << script_file << ": " << status.message() << "\n";
    return 2;
  }
  if (!baud_text.empty()) {
    char* end = nullptr;
    const unsigned long baud = std::strtoul(baud_text.c_str(), &end, 10);
    if (*end || baud > 10'000'000) {
      std::cerr << "qznotes-tap-sim: bad --baud '" << baud_text << "'\n";
      return 2;
    }
    script->baud = static_cast<unsigned>(baud);
  }

  struct sigaction action {};
  action.sa_handler = [](int) { g_stop = 1; };
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  std::ofstream record, calls;
  for (auto [stream, file] : {std::pair{&record, &record_file}, {&calls, &calls_file}}) {
    if (file->empty()) continue;
    stream->open(*file, std::ios::app);
    if (!*stream) {
      std::cerr << "qznotes-tap-sim: cannot write " << *file << "\n";
      return 2;
    }
  }
  try {
    qz::tapsim::PtyLine line(link, script->baud);
    qz::tapsim::TerminalSim terminal(
        *script,
        [&](const std::string& id, const std::string& page) {
          if (record.is_open()) record << Escaped(id) << '\t' << Escaped(page) << std::endl;
        },
        [&](bool begun) {
          using namespace std::chrono;
          // Wall-clock time, so the records of two simulators line up.
          const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch());
          if (calls.is_open()) calls << (begun ? "begin\t" : "end\t") << ms.count() << std::endl;
        });
    std::cerr << "qznotes-tap-sim: terminal on " << line.device() << ", linked at " << link << "\n";
    line.Serve(terminal, g_stop);
    std::cerr << "qznotes-tap-sim: stopped after " << terminal.pages() << " pages\n";
  } catch (const std::exception& e) {
    std::cerr << "qznotes-tap-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
