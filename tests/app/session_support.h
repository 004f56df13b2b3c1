// Test support for proxied sessions: a running proxy (main and log windows, the listener open as
// at the first idle moment) in front of a scripted POP3 server on loopback, a scripted mail
// program, and the log read back as UTF-8 lines.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app_support.h"
#include "support/EventLoop.h"
#include "support/Loopback.h"
#include "support/MessageBoxRecorder.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta::test {

// One end of a scripted conversation: what arrives is kept until a test takes it.
class Wire {
 public:
  Wire() = default;
  explicit Wire(Peer APeer) : FPeer(std::move(APeer)) {}
  bool Open() const { return FPeer.Open(); }
  Peer& Raw() { return FPeer; }

  bool Send(const std::string& Bytes) { return FPeer.Send(Bytes); }
  // The next Count bytes (fewer when they do not come within DeadlineMs).
  std::string Take(std::size_t Count, int DeadlineMs = kDeadlineMs) {
    RunUntil(
        [&] {
          Pull();
          return FIn.size() >= Count || FEnded;
        },
        DeadlineMs);
    std::string out = FIn.substr(0, Count);
    FIn.erase(0, out.size());
    return out;
  }
  // Takes exactly the bytes of Expected if they come; returns what came instead otherwise.
  std::string Expect(const std::string& Expected) { return Take(Expected.size()); }
  // True when the other side ends within DeadlineMs (whatever arrived before is kept). A short
  // DeadlineMs shows only that it does not end (EventLoop.h, rule 3).
  bool Ended(int DeadlineMs = kDeadlineMs) {
    RunUntil(
        [&] {
          Pull();
          return FEnded;
        },
        DeadlineMs);
    return FEnded;
  }
  // Everything that arrived within Ms (the loop runs all that time): to show that nothing comes.
  std::string Drain(int Ms) {
    RunUntil(
        [&] {
          Pull();
          return false;
        },
        Ms);
    std::string out;
    out.swap(FIn);
    return out;
  }
  void Close() { FPeer.Close(); }

 private:
  void Pull() {
    if (FPeer.Open() && !FEnded) FIn += FPeer.ReadAvailable(&FEnded);
  }
  Peer FPeer;
  std::string FIn;
  bool FEnded = false;
};

// The log's peer text for a loopback address.
inline std::string PeerText(const std::string& Address) {
  std::string name = SystemName(Address);
  return name.empty() ? Address : name + "(" + Address + ")";
}

// Time limits that no test reaches.
inline constexpr int kUnlimited = 3600 * 1000;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application().SetTitle("MERLIG");
    Server = std::make_unique<Listener>("127.0.0.1");
    Main = new TMainForm(nullptr, 0, Server->Port());
    Log = new TLogForm(nullptr, Main);
    // A loaded machine must not make the time limits cut the tests; tests of the limits set them.
    Main->LoginTimeoutMs = kUnlimited;
    Main->ServerTimeoutMs = kUnlimited;
    Main->AppIdle(Main);  // the listener opens as at the first idle moment
    ProxyPort = Main->APOPServerSocket->LocalPort();
    ASSERT_GT(ProxyPort, 0);
  }
  void TearDown() override {
    delete Log;
    delete Main;
    Settle();
  }

  // The log from line From on, as UTF-8.
  std::vector<std::string> LogFrom(std::size_t From = 0) const {
    std::vector<std::string> lines;
    for (int i = static_cast<int>(From); i < Log->LogMemo->Lines().Count(); ++i)
      lines.push_back(Cp932ToUtf8(Log->LogMemo->Lines().Strings(i)));
    return lines;
  }
  std::size_t LogSize() const { return static_cast<std::size_t>(Log->LogMemo->Lines().Count()); }

  // A mail program connected to the proxy (from Address) that has read the greeting.
  Wire MailProgram(const std::string& Address = "127.0.0.1", int ReceiveBuffer = 0) {
    Wire mail(Peer::Connect(Address, ProxyPort, ReceiveBuffer));
    EXPECT_EQ(mail.Expect("+OK POP3 to APOP transfer ready\r\n"),
              "+OK POP3 to APOP transfer ready\r\n");
    return mail;
  }
  // USER and PASS from Mail; returns the server's side of the upstream connection.
  Wire Login(Wire& Mail, const std::string& User = "alice",
             const std::string& Password = "tanstaaf") {
    Mail.Send("USER " + User + "@127.0.0.1\r\n");
    EXPECT_EQ(Mail.Expect("+OK kvale is a real hoopy frood\r\n"),
              "+OK kvale is a real hoopy frood\r\n");
    Mail.Send("PASS " + Password + "\r\n");
    return Wire(Server->Accept());
  }
  // Login, greeting with the RFC 1939 timestamp, APOP checked, Answer sent.
  Wire LoginWithAnswer(Wire& Mail, const std::string& Answer) {
    Wire server = Login(Mail);
    EXPECT_TRUE(server.Open());
    server.Send(kGreeting);
    EXPECT_EQ(server.Expect(kApopLine), kApopLine);
    server.Send(Answer);
    return server;
  }

  static inline const std::string kGreeting =
      "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
  // RFC 1939's example: that timestamp with the password "tanstaaf".
  static inline const std::string kApopLine = "APOP alice c4c9334bac560ecc979e58001b3e22fb\r\n";

  test::MessageBoxRecorder Boxes;
  test::NotifyAreaRecorder Tray;
  std::unique_ptr<Listener> Server;
  TMainForm* Main = nullptr;
  TLogForm* Log = nullptr;
  int ProxyPort = 0;
};

}  // namespace ovelta::test
