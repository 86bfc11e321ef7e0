// One settings lookup as the library makes it (the file is read again at every call), against a
// minimal hand-written scan as the floor and GLib's key file parser as the common alternative.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glib.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;

std::string g_path;
constexpr const char* kSection = "section9";
constexpr const char* kKey = "key12";

// 10 sections of 20 lines each (header, a comment, 18 keys).
std::string make_ini() {
  std::string text;
  for (int s = 0; s < 10; ++s) {
    text += "[section" + std::to_string(s) + "]\r\n; settings of part " + std::to_string(s) + "\r\n";
    for (int k = 0; k < 18; ++k) {
      text += "key" + std::to_string(k) + "=value of key " + std::to_string(k) + " in " + std::to_string(s) +
              "\r\n";
    }
  }
  return text;
}

void BM_ProfileFunction(benchmark::State& state) {
  char buffer[256];
  for (auto _ : state) {
    const std::size_t n = ovik::platform::get_private_profile_string(kSection, kKey, "Not found", buffer,
                                                                     sizeof buffer, g_path);
    std::string value = ovik::platform::from_narrow(std::string_view(buffer, n));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ProfileFunction);

// The floor: read the file and find "[section]" and "key=" by plain comparison, nothing more.
void BM_HandScan(benchmark::State& state) {
  static char data[1 << 16];
  const std::string header = std::string("[") + kSection + "]";
  const std::string key_prefix = std::string(kKey) + "=";
  for (auto _ : state) {
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = ::read(fd, data, sizeof data);
    ::close(fd);
    std::string_view text(data, got > 0 ? static_cast<std::size_t>(got) : 0);
    std::string value;
    std::size_t at = text.find(header);
    while (at != std::string_view::npos && at < text.size()) {
      const std::size_t eol = text.find('\n', at);
      const std::size_t next = eol == std::string_view::npos ? text.size() : eol + 1;
      if (text.compare(next, key_prefix.size(), key_prefix) == 0) {
        const std::size_t begin = next + key_prefix.size();
        const std::size_t end = text.find('\r', begin);
        value.assign(text.substr(begin, end - begin));
        break;
      }
      at = next;
    }
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_HandScan);

void BM_GKeyFile(benchmark::State& state) {
  for (auto _ : state) {
    GKeyFile* file = g_key_file_new();
    gchar* value = nullptr;
    if (g_key_file_load_from_file(file, g_path.c_str(), G_KEY_FILE_NONE, nullptr)) {
      value = g_key_file_get_string(file, kSection, kKey, nullptr);
    }
    benchmark::DoNotOptimize(value);
    g_free(value);
    g_key_file_free(file);
  }
}
BENCHMARK(BM_GKeyFile);

}  // namespace

int main(int argc, char** argv) {
  std::string folder = (fs::temp_directory_path() / "ovik-ini-bench-XXXXXX").native();
  if (::mkdtemp(folder.data()) == nullptr) return 1;
  g_path = folder + "/bench.ini";
  std::ofstream(g_path, std::ios::binary) << make_ini();

  benchmark::Initialize(&argc, argv);
  int status = 0;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    status = 1;
  } else {
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return status;
}
