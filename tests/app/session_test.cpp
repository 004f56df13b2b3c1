// Proxied POP3 sessions on real loopback sockets and the real event loop, with a scripted server
// and a scripted mail program: the exact bytes on both wires and the exact log, for the login, the
// refusal and retry, the login-phase commands, the greeting's timestamp, relaying, every close
// order, failed upstream connections, a refused second mail program, line bounds and backpressure.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "app/session_support.h"
#include "platform/Sockets_p.h"

namespace ovelta {
namespace {

using testing_session::PeerText;
using testing_session::SessionTest;
using testing_session::Wire;
using testkit::Peer;
using testkit::RunUntil;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

const std::string kLocal = PeerText("127.0.0.1");

TEST_F(SessionTest, LoginSucceedsThenRelaysBothWaysExactlyAndUnlogged) {
  Wire mail = MailProgram();
  Wire server = LoginWithAnswer(mail, "+OK maildrop has 2 messages\r\n");
  EXPECT_EQ(mail.Expect("+OK maildrop has 2 messages\r\n"), "+OK maildrop has 2 messages\r\n");
  EXPECT_EQ(LogFrom(), (Lines{
                           "* Merlig 開始",
                           "* 接続要求 " + kLocal,
                           "*   接続 - 認証開始",
                           "< +OK POP3 to APOP transfer ready",
                           "< USER alice@127.0.0.1",
                           "< +OK kvale is a real hoopy frood",
                           "< PASS tanstaaf",
                           "* 接続開始 127.0.0.1",
                           "* 接続完了 " + kLocal,
                           "> +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>",
                           "* APOP認証中 127.0.0.1",
                           "*   alice c4c9334bac560ecc979e58001b3e22fb",
                           "> APOP alice c4c9334bac560ecc979e58001b3e22fb",
                           "> +OK maildrop has 2 messages",
                           "*   APOP認証 - 認証成功",
                           "< +OK maildrop has 2 messages",
                       }));
  EXPECT_EQ(Main->SessionState, 3);
  EXPECT_EQ(Main->LoginStage, 0);

  const std::size_t logged = LogSize();
  const std::string request = "STAT\r\nRETR 1\nbare\rCR and \x83\x40 bytes\r\n";
  mail.Send(request);
  EXPECT_EQ(server.Expect(request), request);
  std::string message = "+OK 120 octets\r\n..dot-stuffed\r\n\r\n\x00\xff\r\r\n.\r\n"s;
  message += testkit::Pattern(300000);
  server.Send(message);
  EXPECT_TRUE(mail.Expect(message) == message);
  EXPECT_EQ(LogSize(), logged);
}

TEST_F(SessionTest, AnIPv6ServerAddressIsUsedAsAnAddress) {
  testkit::Listener v6("::1");
  Main->APOPUpstreamSocket->SetPort(v6.Port());
  Wire mail = MailProgram("::1");
  mail.Send("USER alice@::1\r\nPASS tanstaaf\r\n");
  mail.Expect("+OK kvale is a real hoopy frood\r\n");
  Wire server(v6.Accept());
  ASSERT_TRUE(server.Open());
  server.Send(kGreeting);
  EXPECT_EQ(server.Expect(kApopLine), kApopLine);
  EXPECT_EQ(Main->APOPUpstreamSocket->Address(), "::1");
  EXPECT_EQ(Main->APOPUpstreamSocket->Host(), "");
}

TEST_F(SessionTest, RefusedLoginQuitsUpstreamAndTheMailProgramMayRetry) {
  Wire mail = MailProgram();
  Wire server = LoginWithAnswer(mail, "-ERR authentication failed\r\n");
  EXPECT_EQ(mail.Expect("-ERR authentication failed\r\n"), "-ERR authentication failed\r\n");
  EXPECT_EQ(server.Expect("QUIT\r\n"), "QUIT\r\n");
  const Lines tail = LogFrom(LogSize() - 4);
  EXPECT_EQ(tail, (Lines{"> -ERR authentication failed", "> QUIT", "*   APOP認証 - 認証失敗",
                         "< -ERR authentication failed"}));
  EXPECT_EQ(Main->LoginStage, 5);

  // Stage 5: PASS waits for the server's end; the other commands are answered as in stage 1.
  std::size_t before = LogSize();
  mail.Send("PASS again\r\nNOOP\r\n");
  EXPECT_EQ(mail.Expect("-ERR socket not ready\r\n-ERR unknown command\r\n"),
            "-ERR socket not ready\r\n-ERR unknown command\r\n");

  server.Send("+OK bye\r\n");
  EXPECT_TRUE(server.Ended());
  ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == 1; }));
  EXPECT_EQ(LogFrom(before + 4), (Lines{"> +OK bye", "* 接続切断 " + kLocal}));
  EXPECT_EQ(mail.Drain(50), "");  // the mail program is told nothing more

  Wire second = LoginWithAnswer(mail, "+OK welcome\r\n");
  EXPECT_EQ(mail.Expect("+OK welcome\r\n"), "+OK welcome\r\n");
  EXPECT_EQ(Main->SessionState, 3);
}

TEST_F(SessionTest, LoginPhaseCommandsAreAnsweredByTheProxy) {
  struct Case {
    std::string Line;
    std::string Reply;
  };
  const std::vector<Case> cases = {
      {"user Bob@Mail.Example", "+OK kvale is a real hoopy frood"},
      {"USER a@b@pop.example", "+OK kvale is a real hoopy frood"},
      {"USER @pop.example", "-ERR hostname without existing"},
      {"USER bob@", "-ERR hostname without existing"},
      {"USER bob", "-ERR hostname without existing"},
      {"USER ab\x83\x40" "cd", "-ERR hostname without existing"},  // 0x40 as a trail byte
      {"USER ", "-ERR unknown command"},
      {" USER bob@host", "-ERR unknown command"},
      {"APOP bob 0123456789abcdef0123456789abcdef", "-ERR permission denied"},
      {"STAT", "-ERR unknown command"},
      {"quit", "+OK tovik POP3 server signing off"},
  };
  Wire mail = MailProgram();
  for (const Case& c : cases) {
    mail.Send(c.Line + "\r\n");
    EXPECT_EQ(mail.Expect(c.Reply + "\r\n"), c.Reply + "\r\n") << c.Line;
  }
  // Only the successful USER lines set the user and host; the last one of them holds.
  EXPECT_EQ(Main->UserName, "a@b");
  EXPECT_EQ(Main->HostName, "pop.example");
  mail.Send("USER j\x83\x40@h\x83\x40x\r\n");  // the real "@" follows a trail byte 0x40
  mail.Expect("+OK kvale is a real hoopy frood\r\n");
  EXPECT_EQ(Main->UserName, "j\x83\x40");
  EXPECT_EQ(Main->HostName, "h\x83\x40x");
  EXPECT_FALSE(mail.Ended(50));  // QUIT in the login phase leaves the connection open
}

TEST_F(SessionTest, CommandsSplitOverReceiptsOrEndedByABareLineFeed) {
  Wire mail = MailProgram();
  const std::size_t before = LogSize();
  for (const char* piece : {"us", "er al", "ice@127.0", ".0.1\n"}) {
    mail.Send(piece);
    mail.Drain(20);
  }
  mail.Send("QUIT\r");  // a CR LF split over two receipts still ends one line
  mail.Drain(20);
  mail.Send("\nNOOP\r\nAPOP x y\n");
  EXPECT_EQ(mail.Expect("+OK tovik POP3 server signing off\r\n-ERR unknown command\r\n"
                        "-ERR permission denied\r\n"),
            "+OK tovik POP3 server signing off\r\n-ERR unknown command\r\n"
            "-ERR permission denied\r\n");
  EXPECT_EQ(LogFrom(before), (Lines{"< user alice@127.0.0.1", "< +OK kvale is a real hoopy frood",
                                    "< QUIT", "< +OK tovik POP3 server signing off", "< NOOP",
                                    "< -ERR unknown command", "< APOP x y",
                                    "< -ERR permission denied"}));
}

TEST_F(SessionTest, MissingParametersAtPassStartNoConnection) {
  Wire mail = MailProgram();
  mail.Send("USER alice@127.0.0.1\r\nPASS\r\n");
  EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n-ERR there are few parameters\r\n"),
            "+OK kvale is a real hoopy frood\r\n-ERR there are few parameters\r\n");
  EXPECT_EQ(Main->LoginStage, 2);
  mail.Send("USER bob@host\r\nQUIT\r\n");
  EXPECT_EQ(mail.Expect("-ERR unknown command\r\n+OK tovik POP3 server signing off\r\n"),
            "-ERR unknown command\r\n+OK tovik POP3 server signing off\r\n");
  EXPECT_FALSE(Server->Accept(100).Open());
}

TEST_F(SessionTest, ServerLinesInOneReceiptAreEachHandledAndLinesAfterSuccessOnlyLogged) {
  Wire mail = MailProgram();
  Wire server = Login(mail);
  server.Send("+OK ready <1896.697170952@dbc.mt");  // the greeting in two receipts
  mail.Drain(20);
  server.Send("view.ca.us>\r\n");
  EXPECT_EQ(server.Expect(kApopLine), kApopLine);
  const std::size_t before = LogSize();
  server.Send("+OK welcome\r\n+OK an extra line\r\n");
  EXPECT_EQ(mail.Expect("+OK welcome\r\n"), "+OK welcome\r\n");
  EXPECT_EQ(mail.Drain(50), "");
  EXPECT_EQ(LogFrom(before), (Lines{"> +OK welcome", "*   APOP認証 - 認証成功", "< +OK welcome",
                                    "> +OK an extra line"}));
}

TEST_F(SessionTest, GreetingsWithoutASafeTimestampAreRefused) {
  const std::vector<std::string> greetings = {
      "+OK no timestamp here",
      "+OK reversed >1@x<",
      "+OK <with blank@x>",
      "+OK <no-at-sign>",
      "+OK <a<b@x>",
      "+OK <1@x> and <2@y>",  // first "<" to last ">" holds blanks and brackets
      "+OK <\x83\x40@x>",
      "+OK <>",
  };
  for (const std::string& greeting : greetings) {
    Wire mail = MailProgram();
    Wire server = Login(mail);
    server.Send(greeting + "\r\n");
    EXPECT_EQ(mail.Expect("-ERR timestamp without existing\r\n"),
              "-ERR timestamp without existing\r\n")
        << greeting;
    EXPECT_EQ(Main->LoginStage, 3);
    EXPECT_EQ(server.Drain(20), "") << greeting;  // no APOP digest of that challenge
    mail.Close();
    EXPECT_TRUE(server.Ended()) << greeting;
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == 1; }));
  }
}

TEST_F(SessionTest, AGreetingBeginningWithMinusFailsTheConnection) {
  Wire mail = MailProgram();
  Wire server = Login(mail);
  server.Send("-ERR too busy\r\n");
  EXPECT_EQ(mail.Expect("-ERR server connection failed\r\n"), "-ERR server connection failed\r\n");
  EXPECT_EQ(Main->LoginStage, 3);
  server.Close();
  ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == 1; }));
  EXPECT_EQ(mail.Drain(50), "");  // answered once only
}

TEST_F(SessionTest, UpstreamThatCannotBeMadeAnswersPass) {
  Wire mail = MailProgram();
  mail.Send("USER alice@no-such-host.invalid\r\nPASS secret\r\n");
  EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n"),
            "+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n");
  EXPECT_EQ(Main->LoginStage, 1);

  Server->Close();  // nothing listens on the upstream port any more
  const std::size_t before = LogSize();
  mail.Send("USER alice@127.0.0.1\r\nPASS secret\r\n");
  EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n"),
            "+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n");
  EXPECT_EQ(LogFrom(before + 2),
            (Lines{"< PASS secret", "* 接続開始 127.0.0.1", "* 接続エラー ",
                   "< -ERR server connection failed"}));
  EXPECT_EQ(Main->LoginStage, 1);
  EXPECT_TRUE(Boxes.Boxes().empty());  // the socket error was dropped, not shown
}

TEST_F(SessionTest, ServerEndingBeforeItsAnswerAnswersPass) {
  for (bool afterGreeting : {false, true}) {
    Wire mail = MailProgram();
    Wire server = Login(mail);
    if (afterGreeting) {
      server.Send(kGreeting);
      EXPECT_EQ(server.Expect(kApopLine), kApopLine);
    }
    server.Close();
    EXPECT_EQ(mail.Expect("-ERR server connection failed\r\n"),
              "-ERR server connection failed\r\n");
    ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == 1; }));
    mail.Close();
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == 1; }));
  }
}

TEST_F(SessionTest, ServerEndingWhileRelayingEndsTheMailProgramAfterItsBytes) {
  Wire mail = MailProgram("::1");
  Wire server = LoginWithAnswer(mail, "+OK\r\n");
  mail.Expect("+OK\r\n");
  const std::string last = testkit::Pattern(2 << 20, 5);
  server.Send(last);
  server.Close();
  EXPECT_TRUE(mail.Take(last.size(), 10000) == last);
  EXPECT_TRUE(mail.Ended());
  EXPECT_EQ(LogFrom(LogSize() - 2), (Lines{"* 接続切断 " + kLocal, "* 接続切断 " + PeerText("::1")}));
  EXPECT_EQ(Main->SessionState, 1);
  EXPECT_EQ(Main->ClientConnection, nullptr);
}

TEST_F(SessionTest, MailProgramEndingInEachStageEndsTheUpstreamConnection) {
  // Stage by stage: what the script does before the mail program leaves.
  for (int stage = 3; stage <= 6; ++stage) {
    Wire mail = MailProgram("::1");
    Wire server = Login(mail);
    ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == 3; }));
    if (stage >= 4) {
      server.Send(kGreeting);
      server.Expect(kApopLine);
    }
    if (stage == 5) {
      server.Send("-ERR no\r\n");
      server.Expect("QUIT\r\n");
      mail.Expect("-ERR no\r\n");  // read, so that closing is an orderly end, not a reset
    }
    std::string tail;
    if (stage == 6) {  // relaying: what the mail program sent last still reaches the server
      server.Send("+OK\r\n");
      mail.Expect("+OK\r\n");
      tail = testkit::Pattern(1 << 20, 9);
      mail.Send(tail);
    }
    mail.Close();
    EXPECT_TRUE(server.Take(tail.size(), 10000) == tail) << stage;
    EXPECT_TRUE(server.Ended()) << stage;
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == 1; })) << stage;
    EXPECT_EQ(LogFrom(LogSize() - 2),
              (Lines{"* 接続切断 " + PeerText("::1"), "* 接続切断 " + kLocal}))
        << stage;
    EXPECT_FALSE(Main->APOPUpstreamSocket->Active());
  }
}

TEST_F(SessionTest, MailProgramLeavingWhileConnectingAbandonsTheConnect) {
  // A listener whose backlog is full leaves a connect hanging (its SYN is not answered).
  testkit::Listener slow("127.0.0.1");
  Main->APOPUpstreamSocket->SetPort(slow.Port());
  std::vector<Peer> fillers;
  for (int i = 0; i < 40; ++i) {
    sockaddr_storage address{};
    socklen_t length = Peer::Resolve("127.0.0.1", slow.Port(), &address);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), length);
    fillers.emplace_back(fd);
  }
  Wire mail = MailProgram();
  mail.Send("USER alice@127.0.0.1\r\nPASS secret\r\n");
  mail.Expect("+OK kvale is a real hoopy frood\r\n");
  testkit::RunFor(100);
  ASSERT_EQ(Main->LoginStage, 2);
  mail.Close();
  ASSERT_TRUE(RunUntil([&] { return Main->SessionState == 1; }));
  EXPECT_FALSE(Main->APOPUpstreamSocket->Active());

  // The next session connects at once to the scripted server.
  Main->APOPUpstreamSocket->SetPort(Server->Port());
  Wire next = MailProgram();
  Wire server = LoginWithAnswer(next, "+OK\r\n");
  EXPECT_EQ(next.Expect("+OK\r\n"), "+OK\r\n");
}

TEST_F(SessionTest, ASecondMailProgramIsRefusedAndClosed) {
  Wire first = MailProgram();
  const std::size_t before = LogSize();
  Wire second(Peer::Connect("::1", ProxyPort));
  EXPECT_EQ(second.Expect("-ERR already connection in use\r\n"),
            "-ERR already connection in use\r\n");
  EXPECT_TRUE(second.Ended());
  EXPECT_EQ(LogFrom(before), (Lines{"* 接続要求 " + PeerText("::1"), "*   他ユーザー接続中につき拒否",
                                    "< -ERR already connection in use",
                                    "* 接続切断 " + PeerText("::1")}));
  // The first session goes on untouched.
  Wire server = LoginWithAnswer(first, "+OK\r\n");
  EXPECT_EQ(first.Expect("+OK\r\n"), "+OK\r\n");
}

TEST_F(SessionTest, OverlongLinesEndTheConnectionConcerned) {
  Wire mail = MailProgram();
  mail.Send("USER " + std::string(9000, 'a'));
  EXPECT_EQ(mail.Expect("-ERR line too long\r\n"), "-ERR line too long\r\n");
  EXPECT_TRUE(mail.Ended());
  EXPECT_EQ(LogFrom(LogSize() - 3), (Lines{"* 行が長すぎます " + kLocal, "< -ERR line too long",
                                           "* 接続切断 " + kLocal}));

  Wire again = MailProgram();
  Wire server = Login(again);
  server.Send("+OK " + std::string(9000, 'g'));
  EXPECT_EQ(again.Expect("-ERR line too long\r\n"), "-ERR line too long\r\n");
  EXPECT_TRUE(server.Ended());
  ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == 1; }));
  EXPECT_FALSE(again.Ended(50));  // the mail program may log in again
}

TEST_F(SessionTest, ASlowReaderHoldsTheServerBackWithBoundedMemory) {
  Wire mail = MailProgram();
  mail.Raw().SetReceiveBuffer(32768);
  Wire server = LoginWithAnswer(mail, "+OK\r\n");
  mail.Expect("+OK\r\n");
  const std::string data = testkit::Pattern(24 << 20, 3);
  std::thread sender([&] { server.Raw().Send(data, 60000); });
  std::size_t highest = 0;
  bool heldBack = false;
  testkit::RunUntil([&] {
    highest = std::max(highest, Main->ClientConnection->SendPending());
    heldBack = heldBack || Main->APOPUpstreamSocket->Socket()->ReadingPaused();
    return false;
  }, 500);
  EXPECT_TRUE(heldBack);  // the server is no longer read while the mail program lags
  EXPECT_LE(highest, 1024u * 1024);
  std::string got = mail.Take(data.size(), 60000);
  sender.join();
  EXPECT_TRUE(got == data);
}

TEST_F(SessionTest, AMailProgramLeavingRepliesUnreadIsHeldBackWithBoundedMemory) {
  constexpr std::size_t kReplyBound = 64 * 1024;  // the proxy's bound on replies waiting
  const std::string command = "USER x\r\n", reply = "-ERR hostname without existing\r\n";
  constexpr int kBatch = 500, kMostBatches = 40;
  Wire mail = MailProgram();
  mail.Raw().SetReceiveBuffer(4096);
  // The kernel's buffers for the replies are shrunk, so that replies soon wait in the proxy.
  const int sendBuffer = 4096;
  ::setsockopt(Main->ClientConnection->Internals().Fd.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer,
               sizeof sendBuffer);
  std::string batch;
  for (int i = 0; i < kBatch; ++i) batch += command;
  // Commands go out in batches until the proxy stops reading (how much the kernel holds varies).
  int sent = 0;
  std::size_t highest = 0;
  auto watch = [&] {
    highest = std::max(highest, Main->ClientConnection->SendPending());
    return Main->ClientConnection->ReadingPaused();
  };
  for (int i = 0; i < kMostBatches && !Main->ClientConnection->ReadingPaused(); ++i) {
    ASSERT_TRUE(mail.Send(batch));
    sent += kBatch;
    RunUntil([&] {  // until paused or the batch is answered
      return watch() || (Main->ClientBuffer.empty() && Main->ClientConnection->ReceiveLength() == 0);
    });
  }
  ASSERT_TRUE(Main->ClientConnection->ReadingPaused()) << highest;
  // Commands sent now stay unread while the replies wait.
  ASSERT_TRUE(mail.Send(command));
  ++sent;
  testkit::RunUntil([&] {
    watch();
    return false;
  }, 200);
  EXPECT_TRUE(Main->ClientConnection->ReadingPaused());
  EXPECT_GT(Main->ClientConnection->ReceiveLength(), 0u);
  EXPECT_GE(highest, kReplyBound);
  EXPECT_LT(highest, kReplyBound + reply.size());
  // Once the mail program reads, every command is answered, in order.
  std::string expected;
  for (int i = 0; i < sent; ++i) expected += reply;
  EXPECT_TRUE(mail.Take(expected.size(), 30000) == expected);
  EXPECT_FALSE(Main->ClientConnection->ReadingPaused());
  EXPECT_EQ(Main->SessionState, 2);
}

}  // namespace
}  // namespace ovelta
