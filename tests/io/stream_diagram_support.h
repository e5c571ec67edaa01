// Support for the suites of velquor_io: the package loaded into
// a real engine, a temporary folder for the files, property access by full
// name, and the error reports of a run.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>

#include "daxo_component.h"
#include "daxo_property.h"
#include "engine_test_support.h"
#include "file_text.h"

namespace velquor::test {

/// `size` bytes in which every value 0..255 occurs once `size` >= 256 (a
/// multiplier prime to 256 walks all of them), distinct per `seed`.
inline std::string Bytes(std::size_t size, int seed = 0) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 167 + static_cast<std::size_t>(seed) * 59 + i / 256) & 0xFF);
  }
  return bytes;
}

class StreamDiagram : public EngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_IO_PCK));
    char pattern[] = "/tmp/velquor_stream_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    engine.ShutdownDiagram();
    std::filesystem::remove_all(dir);
  }

  std::string File(const std::string& name) const { return dir + "/" + name; }

  void Create(const std::string& model, const std::string& name) {
    ASSERT_TRUE(engine.CreateComponent(model, name)) << model << " " << name;
  }
  /// Sets a property from a text or an integer.
  template <class V>
  void Set(const std::string& component, const std::string& name, const V& value) {
    DAXOProperty* p = Find(component, name);
    ASSERT_NE(p, nullptr) << component << "." << name;
    if constexpr (std::is_same_v<V, std::string>) {
      p->Set(value.c_str());
    } else {
      p->Set(static_cast<DAXOInt64>(value));
    }
  }
  long Integer(const std::string& component, const std::string& name) {
    DAXOProperty* p = Find(component, name);
    return p != nullptr ? p->IntegerValue() : -1;
  }
  void Connect(const std::string& output, const std::string& input) {
    ASSERT_TRUE(engine.Connect(output, input)) << output << " -> " << input;
  }

  /// A ByteStreamPlayer `name` reading `path` at `rate` bytes/s in samples
  /// of `chunk` bytes.
  void Player(const std::string& name, const std::string& path, long rate, long chunk) {
    Create("ByteStreamPlayer", name);
    Set(name, "path", path);
    Set(name, "byte_rate", rate);
    Set(name, "chunk_size", chunk);
  }

  /// Restarts engine time at 0 and lets every listener hear of it before
  /// any component is born; returns engine time before the diagram starts,
  /// a lower bound for the timestamps of its samples.
  DAXOTimestamp StartClock() {
    engine.StartClock();
    engine.FlushListenerNotices();
    return engine.Now();
  }
  /// Runs the diagram until every component has ended by itself.
  void Run() {
    ASSERT_TRUE(engine.StartDiagram());
    ASSERT_EQ(engine.RunDiagram(60 * kSecond), RunEnd::AllDead);
  }

  std::string Errors() {
    std::string all;
    for (const ReportRecord& r : reports->Reports()) {
      if (r.level == DAXO::Error) all += r.text + "\n";
    }
    return all;
  }

  std::string dir;

 private:
  DAXOProperty* Find(const std::string& component, const std::string& name) {
    return static_cast<DAXOProperty*>(
        engine.FindSymbol(component + "." + name, DAXOSymbolKind::Property));
  }
};

}  // namespace velquor::test
