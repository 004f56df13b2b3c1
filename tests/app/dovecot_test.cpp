// End to end: a real POP3 server that demands APOP (Dovecot, started here with its own
// configuration and base directory under a temporary directory) behind the proxy, and a real mail
// program (Python's poplib) that logs in with USER and PASS through it: a wrong password gets the
// server's refusal, the right one then succeeds, and every message read equals its maildir file,
// among them a multi-megabyte one and one with lines beginning with ".". Every process started
// here is stopped by its PID.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/session_support.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace ovelta {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;
using test::SessionTest;

constexpr const char* kDovecot = "/usr/sbin/dovecot";
constexpr const char* kPop3Service = "/usr/lib/dovecot/pop3";
constexpr int kServerStartMs = 15000;
constexpr int kMailProgramMs = 90000;

std::string ReadFile(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const fs::path& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary) << Bytes;
}

// Dovecot's users: as root the packaged unprivileged users, the mail read as "nobody"; as
// anyone else, everything runs as that user.
struct Users {
  std::string Login, Internal, Mail;
  uid_t MailUid = 0;
  gid_t MailGid = 0;
};

bool PickUsers(Users* Out) {
  if (::getuid() != 0) {
    const passwd* self = ::getpwuid(::getuid());
    if (!self) return false;
    *Out = {self->pw_name, self->pw_name, self->pw_name, self->pw_uid, self->pw_gid};
    return true;
  }
  const passwd* nobody = ::getpwnam("nobody");  // a static record: copied before the next call
  if (!nobody) return false;
  *Out = {"dovenull", "dovecot", "nobody", nobody->pw_uid, nobody->pw_gid};
  return ::getpwnam("dovenull") && ::getpwnam("dovecot");
}

// A maildir message with LF line ends, as delivery agents store them.
std::string LargeMessage() {
  std::string text = "From: sender@example.org\nTo: alice@example.org\nSubject: large\n\n";
  const std::string pattern = test::Pattern(3 << 20, 17);
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    text += kAlphabet[static_cast<unsigned char>(pattern[i]) % 64];
    if (i % 76 == 75) text += '\n';
  }
  return text + "\n";
}

const char* const kDottedMessage =
    "From: sender@example.org\nTo: alice@example.org\nSubject: dots\n\n"
    ".a line beginning with a dot\n..two dots\n.\nafter a lone dot\n. \n";

// The mail program: USER/PASS through the proxy, a wrong password first, then the right one;
// STAT and RETR of every message, each compared with the maildir files.
const char* const kMailProgram = R"PY(
import glob, poplib, sys, time
port, maildir = int(sys.argv[1]), sys.argv[2]
files = [open(f, 'rb').read() for f in glob.glob(maildir + '/cur/*')]
pop = poplib.POP3('127.0.0.1', port, timeout=30)
print('greeting', pop.getwelcome().decode())
pop.user('alice@127.0.0.1')
try:
    pop.pass_('wrong password')
    sys.exit('a wrong password was accepted')
except poplib.error_proto as refusal:
    print('refused', refusal.args[0].decode())
for attempt in range(50):  # the proxy takes the next PASS once the server has said goodbye
    time.sleep(0.1)
    pop.user('alice@127.0.0.1')
    try:
        print('accepted', pop.pass_('wonderland').decode())
        break
    except poplib.error_proto as answer:
        if b'socket not ready' not in answer.args[0]:
            raise
count, size = pop.stat()
print('stat', count, size)
if count != len(files):
    sys.exit('%d messages, %d files' % (count, len(files)))
for number in range(1, count + 1):
    response, lines, octets = pop.retr(number)
    body = b'\n'.join(lines) + b'\n'
    if body not in files:
        sys.exit('message %d differs from every maildir file' % number)
    files.remove(body)
print('quit', pop.quit().decode())
)PY";

TEST_F(SessionTest, RealMailProgramReadsMailFromDovecotThroughTheProxy) {
  if (::access(kDovecot, X_OK) != 0 || ::access(kPop3Service, X_OK) != 0)
    GTEST_SKIP() << "Dovecot's POP3 server is not installed (Debian package dovecot-pop3d)";
  Users users;
  ASSERT_TRUE(PickUsers(&users)) << "the users Dovecot runs as (dovenull, dovecot) are missing";

  const test::TempDir scratch;
  ASSERT_FALSE(scratch.Path().empty());
  const fs::path root = scratch.Path();
  ::chmod(root.c_str(), 0755);  // Dovecot's own users must reach the files below
  const fs::path maildir = root / "mail" / "alice";
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  fs::create_directories(root / "home" / "alice");
  WriteFile(maildir / "cur" / "1700000001.M1P1.merlig:2,S", LargeMessage());
  WriteFile(maildir / "cur" / "1700000002.M2P1.merlig:2,S", kDottedMessage);
  for (const auto& entry : fs::recursive_directory_iterator(root / "mail"))
    ::chown(entry.path().c_str(), users.MailUid, users.MailGid);
  for (const fs::path& dir : {root / "mail", root / "home", root / "home" / "alice"})
    ::chown(dir.c_str(), users.MailUid, users.MailGid);
  WriteFile(root / "passwd", "alice:{PLAIN}wonderland\n");

  Server->Close();  // the scripted server's port goes to Dovecot
  const int port = test::FreePort();
  Main->APOPUpstreamSocket->SetPort(port);
  std::ostringstream config;
  config << "base_dir = " << (root / "run").string() << "\n"
         << "state_dir = " << (root / "state").string() << "\n"
         << "log_path = " << (root / "dovecot.log").string() << "\n"
         << "protocols = pop3\nlisten = 127.0.0.1\nssl = no\n"
         << "auth_mechanisms = plain apop\nauth_failure_delay = 0\n"
         << "default_login_user = " << users.Login << "\n"
         << "default_internal_user = " << users.Internal << "\n"
         << "first_valid_uid = 1\n"
         << "mail_location = maildir:" << (root / "mail").string() << "/%u\n"
         << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << (root / "passwd").string()
         << "\n}\n"
         << "userdb {\n  driver = static\n  args = uid=" << users.Mail << " gid=" << users.MailGid
         << " home=" << (root / "home").string() << "/%u\n}\n"
         << "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n    port = "
         << port << "\n  }\n}\n";
  WriteFile(root / "dovecot.conf", config.str());

  ChildProcess::Options dovecotOutput;
  dovecotOutput.OutputFile = dovecotOutput.ErrorFile = (root / "dovecot.out").string();
  ChildProcess dovecot;
  ASSERT_TRUE(
      dovecot.Start({kDovecot, "-F", "-c", (root / "dovecot.conf").string()}, dovecotOutput));
  bool listening = test::RunUntil(
      [&] {
        try {
          test::Peer::Connect("127.0.0.1", port);
          return true;
        } catch (const std::exception&) {
          return false;
        }
      },
      kServerStartMs);
  ASSERT_TRUE(listening) << "Dovecot did not start:\n"
                         << ReadFile(root / "dovecot.out") << ReadFile(root / "dovecot.log");

  WriteFile(root / "mail.py", kMailProgram);
  ChildProcess::Options mailOutput;
  mailOutput.OutputFile = mailOutput.ErrorFile = (root / "mail.out").string();
  ChildProcess mail;
  ASSERT_TRUE(mail.Start(
      {"python3", (root / "mail.py").string(), std::to_string(ProxyPort), maildir.string()},
      mailOutput));
  const int status = mail.Wait(kMailProgramMs, test::RunUntil);
  const std::string transcript = ReadFile(root / "mail.out");
  EXPECT_EQ(status, 0) << transcript << ReadFile(root / "dovecot.log");
  EXPECT_NE(transcript.find("greeting +OK POP3 to APOP transfer ready"), std::string::npos);
  EXPECT_NE(transcript.find("refused -ERR"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("accepted +OK"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("stat 2 "), std::string::npos) << transcript;

  const std::vector<std::string> log = LogFrom();
  auto logged = [&](const std::string& Line) {
    return std::find(log.begin(), log.end(), Line) != log.end();
  };
  EXPECT_TRUE(logged("*   APOP認証 - 認証失敗"));
  EXPECT_TRUE(logged("*   APOP認証 - 認証成功"));
  ASSERT_TRUE(test::RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  dovecot.Stop();
}

}  // namespace
}  // namespace ovelta
