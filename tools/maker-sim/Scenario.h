#pragma once
// The scenario a maker-sim run plays: where it listens, what it answers and which faults it
// injects. The file format is described at the top of main.cpp and in README.md.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace makersim {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Listener {
  std::string name;
  std::string address;  // dotted IPv4 inside 127.0.0.0/8
  int port = 0;         // 0: the kernel picks one
  int threads = 16;
  int keepAliveMax = 100;
  int keepAliveTimeout = 5;  // seconds an idle kept-alive connection is held
  int line = 0;
};

struct BodySource {
  enum class Kind { None, File, Generated, Text };
  Kind kind = Kind::None;
  std::string path;  // File: absolute, or relative to the scenario's folder
  uint64_t size = 0;  // Generated
  uint64_t seed = 0;  // Generated
  std::string text;   // Text, escapes already resolved, ${addr:NAME} not yet
};

// Where a block applies: a URL path (exact, or a prefix when written with a trailing '*'),
// and the listeners (empty: all of them).
struct Match {
  std::string path;  // empty: any path
  bool prefix = false;
  std::vector<size_t> listeners;
};

// A [file] (served with HEAD and byte ranges) or a [route] (a canned answer).
struct Entry {
  bool isFile = false;
  std::string method;  // "GET" for files; "ANY" matches every method
  Match match;
  HeaderList query;  // raw name=value pairs that must all appear in the query
  int status = 200;
  std::string contentType;
  HeaderList headers;
  BodySource body;
  int64_t times = -1;  // answers left; -1: unlimited
  int line = 0;
};

struct Fault {
  Match match;
  std::string method;  // empty: any
  int64_t times = -1;
  int status = 0;  // non-zero: answer this status with an empty body
  std::optional<uint64_t> closeAfter;  // body bytes sent before the connection is dropped
  double stallSeconds = 0;
  std::optional<uint64_t> stallAfter;  // body bytes before the stall; unset: before headers
  bool ignoreRange = false;
  std::optional<uint64_t> contentLength;
  bool lengthInHead = true;
  bool lengthInGet = true;
  std::optional<uint64_t> corruptAt;  // offset in the whole content
  int line = 0;
};

struct Scenario {
  std::vector<Listener> listeners;
  std::vector<Entry> entries;
  std::vector<Fault> faults;
  std::string folder;  // relative sources are found here
};

// Parses scenario text. On failure returns false with "line N: why" in error.
bool ParseScenario(const std::string& text, const std::string& folder, Scenario& out, std::string& error);
// Reads and parses a scenario file; its folder resolves relative sources.
bool LoadScenario(const std::string& path, Scenario& out, std::string& error);

// True for a dotted IPv4 address inside 127.0.0.0/8 (nothing else may be listened on).
bool IsLoopbackAddress(const std::string& address);

}  // namespace makersim
