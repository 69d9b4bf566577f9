// Downloads against local servers that misbehave: stall, trickle, announce
// more than they may send, and redirect where a download must not go.
#include "dbbuild/fetch.h"

#include <chrono>
#include <cstdlib>

#include "registryfiles.h"

namespace {

// Answers by path: /small "hello"; /stall 100 bytes of an announced 100,000
// and then nothing; /huge announces 1 GiB, sends 10 bytes and waits; /slow
// 4 kB a second, never stalling, for 50 s; /to/URL redirects to URL. Over
// https when given a certificate and its key.
constexpr char kServer[] = R"(
import http.server, ssl, sys, time
class H(http.server.BaseHTTPRequestHandler):
  def head(self, length):
    self.send_response(200)
    self.send_header('Content-Length', str(length))
    self.end_headers()
  def do_GET(self):
    p = self.path
    if p == '/small':
      self.head(5); self.wfile.write(b'hello')
    elif p == '/stall':
      self.head(100000); self.wfile.write(b'x' * 100); self.wfile.flush(); time.sleep(30)
    elif p == '/huge':
      self.head(1 << 30); self.wfile.write(b'x' * 10); self.wfile.flush(); time.sleep(30)
    elif p == '/slow':
      self.head(1000000)
      for i in range(500):
        self.wfile.write(b'x' * 400); self.wfile.flush(); time.sleep(0.1)
    elif p.startswith('/to/'):
      self.send_response(302)
      self.send_header('Location', p[4:])
      self.send_header('Content-Length', '0')
      self.end_headers()
    else:
      self.send_error(404)
  def log_message(self, *args): pass
s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), H)
scheme = 'http'
if len(sys.argv) > 2:
  c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
  c.load_cert_chain(sys.argv[1], sys.argv[2])
  s.socket = c.wrap_socket(s.socket, server_side=True)
  scheme = 'https'
print('%s://127.0.0.1:%d' % (scheme, s.server_address[1]), flush=True)
s.serve_forever()
)";

double SecondsSince(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

TEST(FetchTest, StallsTricklesAndAnnouncedSizesEndTheDownload) {
  const TLocalServer server(kServer, std::vector<std::string>{});
  ASSERT_FALSE(server.Base().empty());
  EXPECT_EQ(FetchUrl(server.Base() + "/small", 100), "hello");

  // The server goes quiet after 100 bytes: cut off once a second passes
  // below the stall rate, not after its 30 s.
  TFetchLimits quick;
  quick.StallSeconds = 1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_THAT([&] { FetchUrl(server.Base() + "/stall", 1 << 20, {}, quick); },
              testing::ThrowsMessage<EKeslError>(testing::HasSubstr("too slow")));
  EXPECT_LT(SecondsSince(start), 15);

  // Fast enough never to stall, but past the whole time allowed.
  TFetchLimits brief;
  brief.TimeLimit = 1;
  start = std::chrono::steady_clock::now();
  EXPECT_THAT([&] { FetchUrl(server.Base() + "/slow", 1 << 20, {}, brief); },
              testing::ThrowsMessage<EKeslError>(testing::HasSubstr("timed out")));
  EXPECT_LT(SecondsSince(start), 15);

  // More announced than allowed: refused at the announcement, with the
  // default limits, long before the server's 30 s are over.
  start = std::chrono::steady_clock::now();
  EXPECT_THROW_MSG(FetchUrl(server.Base() + "/huge", 1 << 20), EKeslError,
                   server.Base() + "/huge: larger than 1048576 bytes");
  EXPECT_LT(SecondsSince(start), 15);
  // Sent without being announced: stopped at the bound.
  EXPECT_THROW_MSG(FetchUrl(server.Base() + "/small", 4), EKeslError,
                   server.Base() + "/small: larger than 4 bytes");
  // A refusal is told as one, also when its page is larger than the bound.
  EXPECT_THROW_MSG(FetchUrl(server.Base() + "/missing", 4), EKeslError,
                   server.Base() + "/missing: HTTP status 404");
}

TEST(FetchTest, RedirectsGoNowhereLessSafe) {
  TTempDir dir;
  const std::string cert = dir.Path("cert.pem"), key = dir.Path("key.pem");
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
  const TLocalServer plain(kServer, std::vector<std::string>{});
  const TLocalServer secure(kServer, {cert, key});
  ASSERT_FALSE(plain.Base().empty());
  ASSERT_EQ(secure.Base().rfind("https://", 0), 0u) << secure.Base();
  TFetchLimits trusting;
  trusting.CaFile = cert;

  // Without the certificate the server is not trusted; with it, it is.
  EXPECT_THROW(FetchUrl(secure.Base() + "/small", 100), EKeslError);
  EXPECT_EQ(FetchUrl(secure.Base() + "/small", 100, {}, trusting), "hello");
  // https to https is followed; https to http is not.
  EXPECT_EQ(FetchUrl(secure.Base() + "/to/" + secure.Base() + "/small", 100, {}, trusting),
            "hello");
  EXPECT_THROW(FetchUrl(secure.Base() + "/to/" + plain.Base() + "/small", 100, {}, trusting),
               EKeslError);
  // The scheme in any case is the same scheme: HTTPS:// is followed over
  // https only too.
  const std::string upper = "HTTPS" + secure.Base().substr(5);
  EXPECT_EQ(FetchUrl(upper + "/small", 100, {}, trusting), "hello");
  EXPECT_THROW(FetchUrl(upper + "/to/" + plain.Base() + "/small", 100, {}, trusting), EKeslError);
  // http to http is followed, to a local file never.
  EXPECT_EQ(FetchUrl(plain.Base() + "/to/" + plain.Base() + "/small", 100), "hello");
  const std::string local = dir.Write("local", "secret");
  EXPECT_THROW(FetchUrl(plain.Base() + "/to/file://" + local, 100), EKeslError);
  EXPECT_EQ(FetchUrl("file://" + local, 100), "secret");
}

}  // namespace
