// maker-sim against real clients: curl and raw loopback sockets. Each test starts the
// simulator with its own scenario and checks the bytes on the wire and what it recorded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "support/MakerSim.h"
#include "support/Sandbox.h"

namespace {

using qevtest::MakerSim;
using qevtest::RecordedRequest;

constexpr const char* kCurl = "/usr/bin/curl";
constexpr uint64_t kSize = 100000;
constexpr uint64_t kSeed = 7;

const std::string kListeners =
    "[listener one]\n"
    "address = 127.0.0.1\n"
    "[listener two]\n"
    "address = 127.0.0.2\n";

const std::string kPackage =
    "[file /pkg/app.bin]\n"
    "generate = 100000\n"
    "seed = 7\n";

std::string Expected(uint64_t offset, size_t length) { return MakerSim::GeneratedBytes(kSeed, offset, length); }

struct CurlResult {
  int exitCode = -1;
  int status = 0;
  std::string headers;
  std::string body;

  // Value of a header of the last response, name without regard to case; "" when absent.
  std::string Header(const std::string& name) const {
    std::string lower = headers;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string key = "\n" + name + ":";
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.rfind(key);
    if (at == std::string::npos) return "";
    size_t b = at + key.size();
    while (b < headers.size() && headers[b] == ' ') ++b;
    const size_t e = headers.find('\r', b);
    return headers.substr(b, e == std::string::npos ? std::string::npos : e - b);
  }
};

class MakerSimTest : public ::testing::Test {
 protected:
  CurlResult Curl(const std::vector<std::string>& options, const std::string& url) {
    const std::string headerFile = m_box.Path("curl-headers");
    const std::string bodyFile = m_box.Path("curl-body");
    std::remove(headerFile.c_str());
    std::remove(bodyFile.c_str());
    std::vector<std::string> argv = {kCurl, "-q", "-s", "--noproxy", "*", "-D", headerFile, "-o", bodyFile,
                                     "-w", "%{http_code}"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(url);
    const auto run = qevtest::RunProgram(argv, {}, 60000);
    CurlResult r;
    r.exitCode = run.exitCode;
    r.status = std::atoi(run.out.c_str());
    r.headers = m_box.ReadFile("curl-headers");
    r.body = m_box.ReadFile("curl-body");
    return r;
  }

  bool StartWith(const std::string& blocks) {
    const bool ok = m_sim.Start(kListeners + blocks);
    EXPECT_TRUE(ok) << m_sim.Error();
    return ok;
  }

  std::string Url(const std::string& listener, const std::string& path) { return m_sim.BaseUrl(listener) + path; }

  qevtest::Sandbox m_box;
  MakerSim m_sim;
};

// One client connection over a raw loopback socket.
class RawConnection {
 public:
  explicit RawConnection(const std::string& address) {
    const size_t colon = address.rfind(':');
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(std::atoi(address.c_str() + colon + 1)));
    if (inet_pton(AF_INET, address.substr(0, colon).c_str(), &sa.sin_addr) != 1) return;
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
      close(m_fd);
      m_fd = -1;
    }
  }
  ~RawConnection() {
    if (m_fd >= 0) close(m_fd);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Send(const std::string& request) {
    return m_fd >= 0 && send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                            static_cast<ssize_t>(request.size());
  }
  // Reads until the server closes (bounded by a 10 s silence), or, when stopAt is given,
  // until that many bytes arrived.
  std::string Receive(size_t stopAt = SIZE_MAX) {
    std::string got;
    char buf[65536];
    while (m_fd >= 0 && got.size() < stopAt) {
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) break;
      const ssize_t n = recv(m_fd, buf, std::min(sizeof(buf), stopAt - got.size()), 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int m_fd = -1;
};

// Sends one request over a fresh connection and returns every byte received until the
// server closes it.
std::string RawExchange(const std::string& address, const std::string& request) {
  RawConnection c(address);
  return c.Send(request) ? c.Receive() : std::string();
}

std::string BodyOf(const std::string& response) {
  const size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string HeadOf(const std::string& response) { return response.substr(0, response.find("\r\n\r\n") + 2); }

// --- content delivery -------------------------------------------------------------------

TEST_F(MakerSimTest, Head_ReportsLengthAndRanges) {
  std::string text(12345, 'x');
  {
    std::ofstream out(m_sim.Folder() + "/text.bin", std::ios::binary);
    out << text;
  }
  ASSERT_TRUE(StartWith(kPackage + "[file /pkg/text.bin]\nsource = text.bin\n"));
  for (const auto& [path, size] : std::vector<std::pair<std::string, std::string>>{{"/pkg/app.bin", "100000"},
                                                                                     {"/pkg/text.bin", "12345"}}) {
    SCOPED_TRACE(path);
    const auto r = Curl({"-I"}, Url("one", path));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), size);
    EXPECT_EQ(r.Header("Accept-Ranges"), "bytes");
    const std::string raw = RawExchange(m_sim.Address("one"), "HEAD " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_NE(raw.find("Content-Length: " + size + "\r\n"), std::string::npos) << raw;
    EXPECT_TRUE(BodyOf(raw).empty());
  }
}

TEST_F(MakerSimTest, Get_ServesGeneratedAndFileBytes) {
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes.push_back(static_cast<char>(i * 31 + (i >> 8)));
  {
    std::ofstream out(m_sim.Folder() + "/data.bin", std::ios::binary);
    out << bytes;
  }
  ASSERT_TRUE(StartWith(kPackage + "[file /data.bin]\nsource = data.bin\n"));
  const auto gen = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(gen.exitCode, 0);
  EXPECT_EQ(gen.status, 200);
  EXPECT_EQ(gen.Header("Content-Type"), "application/octet-stream");
  EXPECT_TRUE(gen.body == Expected(0, kSize));
  const auto file = Curl({}, Url("two", "/data.bin"));
  EXPECT_EQ(file.status, 200);
  EXPECT_TRUE(file.body == bytes);
}

TEST_F(MakerSimTest, GenerateMode_WritesTheSameStream) {
  const auto run = qevtest::RunProgram({qevtest::BinPath("maker-sim"), "--generate", "4099", "7"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.out == Expected(0, 4099));
}

struct RangeCase {
  const char* range;
  int status;
  const char* contentRange;
  uint64_t first;
  uint64_t length;
};

TEST_F(MakerSimTest, Get_AnswersRanges) {
  const RangeCase cases[] = {
      {"bytes=0-99", 206, "bytes 0-99/100000", 0, 100},
      {"bytes=12345-23456", 206, "bytes 12345-23456/100000", 12345, 11112},
      {"bytes=99990-", 206, "bytes 99990-99999/100000", 99990, 10},
      {"bytes=99990-500000", 206, "bytes 99990-99999/100000", 99990, 10},
      {"bytes=0-", 206, "bytes 0-99999/100000", 0, 100000},
      {"bytes=99999-99999", 206, "bytes 99999-99999/100000", 99999, 1},
      {"bytes=-300", 206, "bytes 99700-99999/100000", 99700, 300},
      {"bytes=100000-", 416, "bytes */100000", 0, 0},
      {"bytes=100000-100010", 416, "bytes */100000", 0, 0},
      {"bytes=7000000-", 416, "bytes */100000", 0, 0},
  };
  ASSERT_TRUE(StartWith(kPackage));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    const auto r = Curl({"-H", std::string("Range: ") + c.range}, Url("one", "/pkg/app.bin"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.Header("Content-Range"), c.contentRange);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(c.length));
    EXPECT_TRUE(r.body == Expected(c.first, c.length));
  }
}

TEST_F(MakerSimTest, Get_EmptyFileRangeIsUnsatisfiable) {
  ASSERT_TRUE(StartWith("[file /empty]\ntext =\n"));
  const auto whole = Curl({}, Url("one", "/empty"));
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.Header("Content-Length"), "0");
  const auto ranged = Curl({"-r", "0-"}, Url("one", "/empty"));
  EXPECT_EQ(ranged.status, 416);
  EXPECT_EQ(ranged.Header("Content-Range"), "bytes */0");
}

TEST_F(MakerSimTest, Get_KeptAliveConnectionServesSeveralRequests) {
  ASSERT_TRUE(StartWith(kPackage));
  RawConnection c(m_sim.Address("one"));
  ASSERT_TRUE(c.Send("GET /pkg/app.bin HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\n\r\n"));
  std::string first;
  while (first.find("\r\n\r\n") == std::string::npos || BodyOf(first).size() < 10) {
    const std::string more = c.Receive(1);
    if (more.empty()) break;
    first += more;
  }
  EXPECT_TRUE(BodyOf(first) == Expected(0, 10));
  ASSERT_TRUE(c.Send("GET /pkg/app.bin HTTP/1.1\r\nHost: x\r\nRange: bytes=10-19\r\nConnection: close\r\n\r\n"));
  const std::string second = c.Receive();
  EXPECT_EQ(second.rfind("HTTP/1.1 206", 0), 0u) << second;
  EXPECT_TRUE(BodyOf(second) == Expected(10, 10));
  EXPECT_EQ(m_sim.Requests().size(), 2u);
}

// --- faults -----------------------------------------------------------------------------

TEST_F(MakerSimTest, Fault_CloseAfterBytesCutsTheBody) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\npath = /pkg/app.bin\nclose_after = 4000\n"));
  const auto r = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(r.exitCode, 18);  // partial file
  EXPECT_EQ(r.Header("Content-Length"), "100000");
  EXPECT_TRUE(r.body == Expected(0, 4000));
  const std::string raw =
      RawExchange(m_sim.Address("one"), "GET /pkg/app.bin HTTP/1.1\r\nHost: x\r\nRange: bytes=500-\r\n\r\n");
  EXPECT_NE(HeadOf(raw).find("Content-Range: bytes 500-99999/100000"), std::string::npos);
  EXPECT_TRUE(BodyOf(raw) == Expected(500, 4000));
}

TEST_F(MakerSimTest, Fault_CloseAfterZeroSendsOnlyHeaders) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nclose_after = 0\n"));
  const std::string raw = RawExchange(m_sim.Address("two"), "GET /pkg/app.bin HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(raw.rfind("HTTP/1.1 200", 0), 0u) << raw;
  EXPECT_TRUE(BodyOf(raw).empty());
}

TEST_F(MakerSimTest, Fault_StallBeforeHeadersTimesTheClientOut) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nstall = 120\n"));
  const auto r = Curl({"--max-time", "1"}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(r.exitCode, 28);  // operation timed out
  EXPECT_TRUE(r.headers.empty());
  EXPECT_TRUE(r.body.empty());
  // The request was recorded before the answer began.
  const auto reqs = m_sim.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].path, "/pkg/app.bin");
  // A stall does not hold up the stop.
  m_sim.Stop();
  EXPECT_EQ(m_sim.ExitCode(), 0);
}

TEST_F(MakerSimTest, Fault_StallAfterBytesKeepsWhatWasSent) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nstall = 120\nstall_after = 3000\n"));
  const auto r = Curl({"--max-time", "1", "-r", "1000-"}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(r.exitCode, 28);
  EXPECT_EQ(r.status, 206);
  EXPECT_TRUE(r.body == Expected(1000, 3000));
}

TEST_F(MakerSimTest, Fault_ShortStallThenTheWholeBody) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nstall = 0.2\nstall_after = 10\n"));
  const auto r = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.body == Expected(0, kSize));
}

TEST_F(MakerSimTest, Fault_IgnoreRangeAnswersWholeBody) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nignore_range = yes\n"));
  const auto r = Curl({"-r", "5000-5999"}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Range"), "");
  EXPECT_EQ(r.Header("Content-Length"), "100000");
  EXPECT_TRUE(r.body == Expected(0, kSize));
}

TEST_F(MakerSimTest, Fault_WrongLengthInHeadOnly) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\ncontent_length = 99999\ncontent_length_in = head\n"));
  const auto head = Curl({"-I"}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(head.Header("Content-Length"), "99999");
  const auto get = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(get.exitCode, 0);
  EXPECT_EQ(get.Header("Content-Length"), "100000");
  EXPECT_TRUE(get.body == Expected(0, kSize));
}

TEST_F(MakerSimTest, Fault_WrongLengthLargerThanBody) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\ncontent_length = 200000\n"));
  const auto head = Curl({"-I"}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(head.Header("Content-Length"), "200000");
  const auto get = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(get.exitCode, 18);  // the connection closed before the announced length
  EXPECT_EQ(get.Header("Content-Length"), "200000");
  EXPECT_TRUE(get.body == Expected(0, kSize));
}

TEST_F(MakerSimTest, Fault_WrongLengthSmallerThanBody) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\ncontent_length = 500\ncontent_length_in = get\n"));
  const std::string raw =
      RawExchange(m_sim.Address("one"), "GET /pkg/app.bin HTTP/1.1\r\nHost: x\r\nRange: bytes=0-999\r\n\r\n");
  EXPECT_NE(HeadOf(raw).find("Content-Length: 500\r\n"), std::string::npos) << HeadOf(raw);
  EXPECT_TRUE(BodyOf(raw) == Expected(0, 1000));  // all of the range, then the close
}

TEST_F(MakerSimTest, Fault_CorruptsOneByteWhereverItIsSent) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\ncorrupt_at = 54321\n"));
  std::string want = Expected(0, kSize);
  want[54321] = static_cast<char>(want[54321] ^ 0xFF);
  const auto whole = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(whole.exitCode, 0);
  EXPECT_TRUE(whole.body == want);
  const auto inside = Curl({"-r", "54000-54999"}, Url("one", "/pkg/app.bin"));
  EXPECT_TRUE(inside.body == want.substr(54000, 1000));
  const auto outside = Curl({"-r", "0-999"}, Url("one", "/pkg/app.bin"));
  EXPECT_TRUE(outside.body == Expected(0, 1000));
}

TEST_F(MakerSimTest, Fault_ForcedStatusHasEmptyBody) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nstatus = 503\nmethod = GET\n"));
  const auto get = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(get.status, 503);
  EXPECT_TRUE(get.body.empty());
  const auto head = Curl({"-I"}, Url("one", "/pkg/app.bin"));  // the fault is for GET only
  EXPECT_EQ(head.status, 200);
}

TEST_F(MakerSimTest, Fault_TimesLimitsItToTheFirstRequests) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nclose_after = 100\ntimes = 2\n"));
  EXPECT_EQ(Curl({}, Url("one", "/pkg/app.bin")).exitCode, 18);
  EXPECT_EQ(Curl({}, Url("two", "/pkg/app.bin")).exitCode, 18);
  const auto third = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(third.exitCode, 0);
  EXPECT_TRUE(third.body == Expected(0, kSize));
}

TEST_F(MakerSimTest, Fault_OnOneListenerOnly) {
  ASSERT_TRUE(StartWith(kPackage + "[fault]\nlisteners = two\npath = /pkg/app.bin\nclose_after = 1234\n"));
  EXPECT_EQ(m_sim.Address("one").rfind("127.0.0.1:", 0), 0u);
  EXPECT_EQ(m_sim.Address("two").rfind("127.0.0.2:", 0), 0u);
  const auto good = Curl({}, Url("one", "/pkg/app.bin"));
  EXPECT_EQ(good.exitCode, 0);
  EXPECT_TRUE(good.body == Expected(0, kSize));
  const auto bad = Curl({}, Url("two", "/pkg/app.bin"));
  EXPECT_EQ(bad.exitCode, 18);
  EXPECT_TRUE(bad.body == Expected(0, 1234));

  const auto reqs = m_sim.Requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].listener, "one");
  EXPECT_EQ(reqs[0].local, m_sim.Address("one"));
  EXPECT_EQ(reqs[1].listener, "two");
  EXPECT_EQ(reqs[1].local, m_sim.Address("two"));
  EXPECT_EQ(reqs[1].Header("host"), m_sim.Address("two"));
}

TEST_F(MakerSimTest, File_OnlyOnItsListeners) {
  ASSERT_TRUE(StartWith("[file /a]\ntext = A\nlisteners = two\n"));
  EXPECT_EQ(Curl({}, Url("one", "/a")).status, 404);
  EXPECT_EQ(Curl({}, Url("two", "/a")).body, "A");
}

// --- recording --------------------------------------------------------------------------

TEST_F(MakerSimTest, Record_KeepsHeadersQueryAndBinaryBody) {
  ASSERT_TRUE(StartWith("[route POST /upload]\nstatus = 201\n"));
  std::string body;
  for (int i = 0; i < 256; ++i) body.push_back(static_cast<char>(i));
  body += "\"quoted\" \\ back\r\n\xE4\xB8\xAD";  // ends with one valid UTF-8 character
  m_box.WriteFile("body.bin", body);
  const auto r = Curl({"-X", "POST", "-H", "X-Client: test \"one\"", "-H", "Content-Type: application/octet-stream",
                       "--data-binary", "@" + m_box.Path("body.bin")},
                      Url("one", "/upload?a=1&b=%41%20c"));
  EXPECT_EQ(r.status, 201);
  const auto reqs = m_sim.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  const RecordedRequest& q = reqs[0];
  EXPECT_EQ(q.seq, 1u);
  EXPECT_EQ(q.method, "POST");
  EXPECT_EQ(q.path, "/upload");
  EXPECT_EQ(q.query, "a=1&b=%41%20c");
  EXPECT_EQ(q.target, "/upload?a=1&b=%41%20c");
  EXPECT_EQ(q.version, "HTTP/1.1");
  EXPECT_EQ(q.Header("x-client"), "test \"one\"");
  EXPECT_EQ(q.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_FALSE(q.HasHeader("REMOTE_ADDR"));
  EXPECT_TRUE(q.body == body);
}

TEST_F(MakerSimTest, Record_DecodesMultipartUploads) {
  ASSERT_TRUE(StartWith("[route POST /v1/support/tickets]\ntext = {\"code\":0}\ncontent_type = application/json\n"));
  m_box.WriteFile("report.log", "line one\nline two\n");
  const auto r = Curl({"-F", "title=disk full", "-F", "file=@" + m_box.Path("report.log") + ";type=text/plain"},
                      Url("two", "/v1/support/tickets"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "{\"code\":0}");
  const auto reqs = m_sim.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  ASSERT_EQ(reqs[0].parts.size(), 2u);
  const auto& file = reqs[0].parts[0].name == "file" ? reqs[0].parts[0] : reqs[0].parts[1];
  const auto& title = reqs[0].parts[0].name == "file" ? reqs[0].parts[1] : reqs[0].parts[0];
  EXPECT_EQ(title.name, "title");
  EXPECT_EQ(title.content, "disk full");
  EXPECT_EQ(file.filename, "report.log");
  EXPECT_EQ(file.contentType, "text/plain");
  EXPECT_EQ(file.content, "line one\nline two\n");
}

// --- canned answers ---------------------------------------------------------------------

TEST_F(MakerSimTest, Route_AnswersWithStatusHeadersAndListenerAddresses) {
  ASSERT_TRUE(StartWith(
      "[route GET /rest/v2/downloader/runtime/]\n"
      "content_type = text/xml\n"
      "header = X-Cdn: ${addr:two}\n"
      "text = <cvrp><url>${url:two}/pkg/app.bin</url></cvrp>\n"));
  const auto r = Curl({}, Url("one", "/rest/v2/downloader/runtime/?client_sign=abc"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/xml");
  EXPECT_EQ(r.Header("X-Cdn"), m_sim.Address("two"));
  EXPECT_EQ(r.body, "<cvrp><url>" + m_sim.BaseUrl("two") + "/pkg/app.bin</url></cvrp>");
  const auto head = Curl({"-I"}, Url("one", "/rest/v2/downloader/runtime/"));
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(r.body.size()));
}

TEST_F(MakerSimTest, Route_QueryTimesAndOrderPickTheAnswer) {
  ASSERT_TRUE(StartWith(
      "[route GET /v3/downloader/strategy]\nquery = pid=5\nstatus = 500\ntimes = 1\n"
      "[route GET /v3/downloader/strategy]\nquery = pid=5\ntext = five\n"
      "[route GET /v3/downloader/strategy]\ntext = other\n"
      "[route ANY /v1/product/downloader/recovery*]\nstatus = 202\ntext = any\n"));
  EXPECT_EQ(Curl({}, Url("one", "/v3/downloader/strategy?x=1&pid=5")).status, 500);
  EXPECT_EQ(Curl({}, Url("one", "/v3/downloader/strategy?x=1&pid=5")).body, "five");
  EXPECT_EQ(Curl({}, Url("one", "/v3/downloader/strategy?pid=55")).body, "other");
  const auto post = Curl({"-X", "POST", "-d", "{}"}, Url("one", "/v1/product/downloader/recovery/7/apply"));
  EXPECT_EQ(post.status, 202);
  EXPECT_EQ(post.body, "any");
  EXPECT_EQ(Curl({}, Url("one", "/nothing")).status, 404);
  EXPECT_EQ(m_sim.Requests().size(), 5u);
}

// --- the scenario is checked before anything listens --------------------------------------

TEST_F(MakerSimTest, Scenario_RefusesWhatItCannotHonour) {
  const struct {
    const char* scenario;
    const char* why;
  } cases[] = {
      {"[listener a]\naddress = 0.0.0.0\n", "refused"},
      {"[listener a]\naddress = 10.1.2.3\n", "refused"},
      {"[listener a]\naddress = 128.0.0.1\n", "refused"},
      {"[listener a]\naddress = localhost\n", "refused"},
      {"[listener a]\naddress = ::1\n", "refused"},
      {"[listener a]\naddress = 127.0.0.1.5\n", "refused"},
      {"[listener a]\n", "no address"},
      {"# nothing\n", "no [listener]"},
      {"[listener a]\naddress = 127.0.0.1\nport = 70000\n", "port"},
      {"[listener a]\naddress = 127.0.0.1\ncolour = blue\n", "unknown key"},
      {"[listener a]\naddress = 127.0.0.1\n[server b]\n", "unknown section"},
      {"[listener a]\naddress = 127.0.0.1\n[file /x]\n", "needs source"},
      {"[listener a]\naddress = 127.0.0.1\n[file /x]\ntext = a\ngenerate = 5\n", "only one"},
      {"[listener a]\naddress = 127.0.0.1\n[file /x]\nsource = missing.bin\n", "cannot open source"},
      {"[listener a]\naddress = 127.0.0.1\n[file /x]\ntext = a\nlisteners = b\n", "unknown listener"},
      {"[listener a]\naddress = 127.0.0.1\n[fault]\npath = /x\n", "a fault needs"},
      {"[listener a]\naddress = 127.0.0.1\n[fault]\nstall = -1\n", "stall"},
      {"[listener a]\naddress = 127.0.0.1\n[route get /x]\n", "METHOD"},
      {"[listener a]\naddress = 127.0.0.1\n[route GET /x]\ntext = ${addr:zz}\n", "unknown listener"},
      {"[listener a]\naddress = 127.0.0.1\n[route GET /x]\ntext = bad \\q\n", "escape"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    MakerSim sim;
    EXPECT_FALSE(sim.Start(c.scenario));
    EXPECT_NE(sim.Error().find(c.why), std::string::npos) << sim.Error();
    EXPECT_EQ(sim.ExitCode() == 1 || sim.ExitCode() == 2, true) << sim.ExitCode();
  }
}

TEST_F(MakerSimTest, CommandLine_NeedsAScenario) {
  const auto run = qevtest::RunProgram({qevtest::BinPath("maker-sim")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("--scenario"), std::string::npos);
}

TEST_F(MakerSimTest, Stop_EndsCleanlyAndCanRestart) {
  ASSERT_TRUE(StartWith(kPackage));
  EXPECT_EQ(Curl({}, Url("one", "/pkg/app.bin")).exitCode, 0);
  m_sim.Stop();
  EXPECT_EQ(m_sim.ExitCode(), 0);
  ASSERT_TRUE(StartWith("[file /b]\ntext = again\n"));
  EXPECT_EQ(Curl({}, Url("two", "/b")).body, "again");
  EXPECT_EQ(m_sim.Requests().size(), 1u);  // a new run has a new record
}

}  // namespace
