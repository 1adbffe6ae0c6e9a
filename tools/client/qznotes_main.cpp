// qznotes: the command-line client of the QzNotes server.
#include <iostream>
#include <string_view>
#include <vector>

#include "client/client_app.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> words(argv + 1, argv + argc);
  return qz::client::RunClient(words, {std::cout, std::cerr});
}
