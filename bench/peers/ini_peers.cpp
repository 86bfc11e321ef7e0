// Workload 1: one settings lookup in a 200-line INI file of 10 sections (header, a comment line and
// 18 keys each; CR LF line ends), the key sitting in the last section.
//  - per lookup: every system opens and reads the file at every call, as the library's design does
//    (clsIniFile::GetIni); QSettings is constructed per lookup, POCO's IniFileConfiguration and
//    GLib's GKeyFile are loaded per lookup; the floor is a read() plus a plain substring scan;
//  - cached: each peer's object parsed once and asked again (the floor scans the text in memory).
// Every case checks that it found the same value.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "peers_common.h"
#if OVIK_PEER_QT
#include <QtCore/QSettings>
#include <QtCore/QString>
#include <QtCore/QVariant>
#endif
#if OVIK_PEER_POCO
#include <Poco/AutoPtr.h>
#include <Poco/Util/IniFileConfiguration.h>
#endif

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "ovik/component.h"
#include "ovik/environment.h"

namespace {

std::string g_folder;     // the scratch folder holding the files
std::string g_name;       // bench.ini: the library's own dialect (';' comment lines)
std::string g_path;       // g_folder + "/" + g_name
std::string g_hash_path;  // the same text with '#' comment lines, for GKeyFile (see make_ini)
constexpr const char* kSection = "section9";
constexpr const char* kKey = "key12";
constexpr const char* kExpected = "value of key 12 in 9";

// 10 sections of 20 lines each (header, a comment, 18 keys): 200 lines, about 5.5 KB.
std::string make_ini(char comment) {
  std::string text;
  for (int s = 0; s < 10; ++s) {
    text += "[section" + std::to_string(s) + "]\r\n" + comment + " settings of part " + std::to_string(s) + "\r\n";
    for (int k = 0; k < 18; ++k)
      text += "key" + std::to_string(k) + "=value of key " + std::to_string(k) + " in " + std::to_string(s) + "\r\n";
  }
  return text;
}

void check(benchmark::State& state, std::string_view got) {
  if (got != kExpected) state.SkipWithError(("wrong value: " + std::string(got)).c_str());
}

// ---- the library -------------------------------------------------------------------------------

void BM_Ini_Ovik_GetIni(benchmark::State& state) {
  ovik::Ref<ovik::_clsIniFile> ini = ovik::create<ovik::_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path(g_folder);
  ini->put_FileName(g_name);
  std::string section = kSection, key = kKey, value;
  for (auto _ : state) {
    value = ini->GetIni(section, key);
    benchmark::DoNotOptimize(value);
  }
  check(state, value);
}

#if OVIK_PEER_QT
// ---- Qt 6 --------------------------------------------------------------------------------------

const QString& qt_key() {
  static const QString key = QString::fromLatin1(kSection) + '/' + QString::fromLatin1(kKey);
  return key;
}

void BM_Ini_Qt_QSettingsPerLookup(benchmark::State& state) {
  const QString path = QString::fromStdString(g_path);
  QString value;
  for (auto _ : state) {
    QSettings settings(path, QSettings::IniFormat);
    value = settings.value(qt_key()).toString();
    benchmark::DoNotOptimize(value);
  }
  check(state, value.toStdString());
}

// QSettings keeps parsed files in a process-wide cache and reparses only when the file's size or
// modification time changed. Here the modification time is moved (alternating between two
// values) before every lookup, so every lookup reparses; the utimensat call is inside the time.
void BM_Ini_Qt_QSettingsPerLookupForcedReparse(benchmark::State& state) {
  const QString path = QString::fromStdString(g_path);
  QString value;
  timespec times[2][2] = {{{1700000000, 0}, {1700000000, 0}}, {{1700000001, 0}, {1700000001, 0}}};
  int flip = 0;
  for (auto _ : state) {
    utimensat(AT_FDCWD, g_path.c_str(), times[flip ^= 1], 0);
    QSettings settings(path, QSettings::IniFormat);
    value = settings.value(qt_key()).toString();
    benchmark::DoNotOptimize(value);
  }
  check(state, value.toStdString());
}

void BM_Ini_Qt_QSettingsCached(benchmark::State& state) {
  QSettings settings(QString::fromStdString(g_path), QSettings::IniFormat);
  QString value;
  for (auto _ : state) {
    value = settings.value(qt_key()).toString();
    benchmark::DoNotOptimize(value);
  }
  check(state, value.toStdString());
}

#endif  // OVIK_PEER_QT

#if OVIK_PEER_POCO
// ---- POCO --------------------------------------------------------------------------------------

const std::string kPocoKey = std::string(kSection) + "." + kKey;

void BM_Ini_Poco_LoadPerLookup(benchmark::State& state) {
  std::string value;
  for (auto _ : state) {
    Poco::AutoPtr<Poco::Util::IniFileConfiguration> config(new Poco::Util::IniFileConfiguration(g_path));
    value = config->getString(kPocoKey);
    benchmark::DoNotOptimize(value);
  }
  check(state, value);
}

void BM_Ini_Poco_Cached(benchmark::State& state) {
  Poco::AutoPtr<Poco::Util::IniFileConfiguration> config(new Poco::Util::IniFileConfiguration(g_path));
  std::string value;
  for (auto _ : state) {
    value = config->getString(kPocoKey);
    benchmark::DoNotOptimize(value);
  }
  check(state, value);
}

#endif  // OVIK_PEER_POCO

// ---- GLib --------------------------------------------------------------------------------------

void BM_Ini_GKeyFile_LoadPerLookup(benchmark::State& state) {
  std::string value;
  for (auto _ : state) {
    GKeyFile* file = g_key_file_new();
    gchar* got = nullptr;
    if (g_key_file_load_from_file(file, g_hash_path.c_str(), G_KEY_FILE_NONE, nullptr))
      got = g_key_file_get_string(file, kSection, kKey, nullptr);
    value = got != nullptr ? got : "";
    benchmark::DoNotOptimize(value);
    g_free(got);
    g_key_file_free(file);
  }
  check(state, value);
}

void BM_Ini_GKeyFile_Cached(benchmark::State& state) {
  GKeyFile* file = g_key_file_new();
  if (!g_key_file_load_from_file(file, g_hash_path.c_str(), G_KEY_FILE_NONE, nullptr))
    state.SkipWithError("GKeyFile could not load the file");
  std::string value;
  for (auto _ : state) {
    gchar* got = g_key_file_get_string(file, kSection, kKey, nullptr);
    value = got != nullptr ? got : "";
    benchmark::DoNotOptimize(value);
    g_free(got);
  }
  g_key_file_free(file);
  check(state, value);
}

// ---- the floor: find "[section]" and then "key=" at a line start by plain comparison ----------

std::string hand_scan(std::string_view text) {
  static const std::string header = std::string("[") + kSection + "]";
  static const std::string key_prefix = std::string(kKey) + "=";
  std::size_t at = text.find(header);
  while (at != std::string_view::npos && at < text.size()) {
    const std::size_t eol = text.find('\n', at);
    if (eol == std::string_view::npos) break;
    const std::size_t next = eol + 1;
    if (next < text.size() && text[next] == '[') break;  // the next section: not found
    if (text.compare(next, key_prefix.size(), key_prefix) == 0) {
      const std::size_t begin = next + key_prefix.size();
      const std::size_t end = text.find_first_of("\r\n", begin);
      return std::string(text.substr(begin, end - begin));
    }
    at = next;
  }
  return {};
}

void BM_Ini_HandScan_ReadPerLookup(benchmark::State& state) {
  static char data[1 << 16];
  std::string value;
  for (auto _ : state) {
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = ::read(fd, data, sizeof data);
    ::close(fd);
    value = hand_scan(std::string_view(data, got > 0 ? static_cast<std::size_t>(got) : 0));
    benchmark::DoNotOptimize(value);
  }
  check(state, value);
}

void BM_Ini_HandScan_Cached(benchmark::State& state) {
  std::ifstream in(g_path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  std::string value;
  for (auto _ : state) {
    value = hand_scan(text);
    benchmark::DoNotOptimize(value);
  }
  check(state, value);
}

BENCHMARK(peers::BM_Baseline);
BENCHMARK(BM_Ini_Ovik_GetIni);
#if OVIK_PEER_QT
BENCHMARK(BM_Ini_Qt_QSettingsPerLookup);
BENCHMARK(BM_Ini_Qt_QSettingsPerLookupForcedReparse);
#endif
#if OVIK_PEER_POCO
BENCHMARK(BM_Ini_Poco_LoadPerLookup);
#endif
BENCHMARK(BM_Ini_GKeyFile_LoadPerLookup);
BENCHMARK(BM_Ini_HandScan_ReadPerLookup);
#if OVIK_PEER_QT
BENCHMARK(BM_Ini_Qt_QSettingsCached);
#endif
#if OVIK_PEER_POCO
BENCHMARK(BM_Ini_Poco_Cached);
#endif
BENCHMARK(BM_Ini_GKeyFile_Cached);
BENCHMARK(BM_Ini_HandScan_Cached);

}  // namespace

int main(int argc, char** argv) {
  peers::ScratchFolder folder("ini-peers");
  g_folder = folder.path().string();
  g_name = "bench.ini";
  g_path = folder.file(g_name);
  g_hash_path = folder.file("bench-hash.ini");
  std::ofstream(g_path, std::ios::binary) << make_ini(';');
  // GKeyFile takes only '#' as a comment and refuses a file holding a ';' line; it gets the same
  // text with '#' in place of ';' (same size, same lines).
  std::ofstream(g_hash_path, std::ios::binary) << make_ini('#');

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
