// Proxied POP3 sessions on real loopback sockets and the real event loop, with a scripted server
// and a scripted mail program: the exact bytes on both wires and the exact log, for the login, the
// refusal and retry, the login-phase commands, the greeting's timestamp, relaying, every close
// order, failed upstream connections, a refused second mail program, line bounds and backpressure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <string>
#include <thread>

#include "app/session_support.h"
#include "digest/Ovmd5.h"
#include "platform/net/Sockets_p.h"

namespace ovelta {
namespace {

using test::kUnlimited;
using test::Peer;
using test::PeerText;
using test::RunUntil;
using test::SessionTest;
using test::Wire;
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
  EXPECT_EQ(Main->SessionState, TSessionState::ssRelaying);
  EXPECT_EQ(Main->LoginStage, TLoginStage::lsNone);

  const std::size_t logged = LogSize();
  const std::string request = "STAT\r\nRETR 1\nbare\rCR and \x83\x40 bytes\r\n";
  mail.Send(request);
  EXPECT_EQ(server.Expect(request), request);
  std::string message = "+OK 120 octets\r\n..dot-stuffed\r\n\r\n\x00\xff\r\r\n.\r\n"s;
  message += test::Pattern(300000);
  server.Send(message);
  EXPECT_TRUE(mail.Expect(message) == message);
  EXPECT_EQ(LogSize(), logged);
}

TEST_F(SessionTest, AnIPv6ServerAddressIsUsedAsAnAddress) {
  test::Listener v6("::1");
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
  EXPECT_EQ(Main->LoginStage, TLoginStage::lsQuitSent);

  // Stage 5: PASS waits for the server's end; the other commands are answered as in stage 1.
  std::size_t before = LogSize();
  mail.Send("PASS again\r\nNOOP\r\n");
  EXPECT_EQ(mail.Expect("-ERR socket not ready\r\n-ERR unknown command\r\n"),
            "-ERR socket not ready\r\n-ERR unknown command\r\n");

  server.Send("+OK bye\r\n");
  EXPECT_TRUE(server.Ended());
  ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == TLoginStage::lsUserPass; }));
  EXPECT_EQ(LogFrom(before + 4), (Lines{"> +OK bye", "* 接続切断 " + kLocal}));
  EXPECT_EQ(mail.Drain(50), "");  // the mail program is told nothing more

  Wire second = LoginWithAnswer(mail, "+OK welcome\r\n");
  EXPECT_EQ(mail.Expect("+OK welcome\r\n"), "+OK welcome\r\n");
  EXPECT_EQ(Main->SessionState, TSessionState::ssRelaying);
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
      {"USER ab\x83\x40"
       "cd",
       "-ERR hostname without existing"},  // 0x40 as a trail byte
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
  // Each piece is one receipt: the next goes once the proxy holds the unfinished line.
  std::string unfinished;
  for (const char* piece : {"us", "er al", "ice@127.0"}) {
    mail.Send(piece);
    unfinished += piece;
    ASSERT_TRUE(RunUntil([&] { return Main->ClientBuffer == unfinished; })) << piece;
  }
  mail.Send(".0.1\n");
  EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n"),
            "+OK kvale is a real hoopy frood\r\n");
  mail.Send("QUIT\r");  // a CR LF split over two receipts still ends one line
  ASSERT_TRUE(RunUntil([&] { return Main->ClientBuffer == "QUIT\r"; }));
  mail.Send("\nNOOP\r\nAPOP x y\n");
  EXPECT_EQ(mail.Expect("+OK tovik POP3 server signing off\r\n-ERR unknown command\r\n"
                        "-ERR permission denied\r\n"),
            "+OK tovik POP3 server signing off\r\n-ERR unknown command\r\n"
            "-ERR permission denied\r\n");
  EXPECT_EQ(LogFrom(before),
            (Lines{"< user alice@127.0.0.1", "< +OK kvale is a real hoopy frood", "< QUIT",
                   "< +OK tovik POP3 server signing off", "< NOOP", "< -ERR unknown command",
                   "< APOP x y", "< -ERR permission denied"}));
}

TEST_F(SessionTest, MissingParametersAtPassStartNoConnection) {
  Wire mail = MailProgram();
  mail.Send("USER alice@127.0.0.1\r\nPASS\r\n");
  EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n-ERR there are few parameters\r\n"),
            "+OK kvale is a real hoopy frood\r\n-ERR there are few parameters\r\n");
  EXPECT_EQ(Main->LoginStage, TLoginStage::lsConnecting);
  mail.Send("USER bob@host\r\nQUIT\r\n");
  EXPECT_EQ(mail.Expect("-ERR unknown command\r\n+OK tovik POP3 server signing off\r\n"),
            "-ERR unknown command\r\n+OK tovik POP3 server signing off\r\n");
  EXPECT_FALSE(Server->Accept(100).Open());
}

TEST_F(SessionTest, ServerLinesInOneReceiptAreEachHandledAndBytesAfterSuccessRelayed) {
  Wire mail = MailProgram();
  Wire server = Login(mail);
  server.Send("+OK ready <1896.697170952@dbc.mt");  // the greeting in two receipts
  ASSERT_TRUE(RunUntil([&] { return Main->ServerBuffer == "+OK ready <1896.697170952@dbc.mt"; }));
  server.Send("view.ca.us>\r\n");
  EXPECT_EQ(server.Expect(kApopLine), kApopLine);
  const std::size_t before = LogSize();
  // After the answer, in the same receipt: a line, bytes that are no login line (too long, a
  // control byte, no line end), all relayed as they are.
  const std::string after = "+OK an extra line\r\n" + std::string(9000, 'x') + "\x1b\r\n\x00tail"s;
  server.Send("+OK welcome\r\n" + after);
  EXPECT_EQ(mail.Expect("+OK welcome\r\n" + after), "+OK welcome\r\n" + after);
  server.Send("more");
  EXPECT_EQ(mail.Expect("more"), "more");
  EXPECT_EQ(LogFrom(before), (Lines{"> +OK welcome", "*   APOP認証 - 認証成功", "< +OK welcome"}));
}

TEST_F(SessionTest, GreetingsWithoutASafeTimestampAreRefused) {
  const std::vector<std::string> greetings = {
      "+OK no timestamp here", "+OK reversed >1@x<",
      "+OK <with blank@x>",    "+OK <no-at-sign>",
      "+OK <a<b@x>",
      "+OK <1@x> and <2@y>",  // first "<" to last ">" holds blanks and brackets
      "+OK <\x83\x40@x>",      "+OK <>",
  };
  for (const std::string& greeting : greetings) {
    Wire mail = MailProgram();
    Wire server = Login(mail);
    server.Send(greeting + "\r\n");
    EXPECT_EQ(mail.Expect("-ERR timestamp without existing\r\n"),
              "-ERR timestamp without existing\r\n")
        << greeting;
    EXPECT_EQ(Main->LoginStage, TLoginStage::lsGreeting);
    EXPECT_EQ(server.Drain(20), "") << greeting;  // no APOP digest of that challenge
    mail.Close();
    EXPECT_TRUE(server.Ended()) << greeting;
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }
}

TEST_F(SessionTest, AGreetingBeginningWithMinusFailsTheConnection) {
  Wire mail = MailProgram();
  Wire server = Login(mail);
  server.Send("-ERR too busy\r\n");
  EXPECT_EQ(mail.Expect("-ERR server connection failed\r\n"), "-ERR server connection failed\r\n");
  EXPECT_EQ(Main->LoginStage, TLoginStage::lsGreeting);
  server.Close();
  ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == TLoginStage::lsUserPass; }));
  EXPECT_EQ(mail.Drain(50), "");  // answered once only
}

TEST_F(SessionTest, UpstreamThatCannotBeMadeAnswersPass) {
  Wire mail = MailProgram();
  mail.Send("USER alice@no-such-host.invalid\r\nPASS secret\r\n");
  EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n"),
            "+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n");
  EXPECT_EQ(Main->LoginStage, TLoginStage::lsUserPass);

  Server->Close();  // nothing listens on the upstream port any more
  const std::size_t before = LogSize();
  mail.Send("USER alice@127.0.0.1\r\nPASS secret\r\n");
  EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n"),
            "+OK kvale is a real hoopy frood\r\n-ERR server connection failed\r\n");
  EXPECT_EQ(LogFrom(before + 2), (Lines{"< PASS secret", "* 接続開始 127.0.0.1", "* 接続エラー ",
                                        "< -ERR server connection failed"}));
  EXPECT_EQ(Main->LoginStage, TLoginStage::lsUserPass);
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
    ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == TLoginStage::lsUserPass; }));
    mail.Close();
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }
}

TEST_F(SessionTest, ServerEndingWhileRelayingReachesTheMailProgramAfterItsBytes) {
  // The server ends its sending only: the mail program gets every byte, then the end, and what it
  // still sends reaches the server; the session ends once both have ended.
  Wire mail = MailProgram("::1");
  Wire server = LoginWithAnswer(mail, "+OK\r\n");
  mail.Expect("+OK\r\n");
  const std::string last = test::Pattern(2 << 20, 5);
  server.Send(last);
  server.Raw().ShutdownWrite();
  EXPECT_TRUE(mail.Take(last.size()) == last);
  EXPECT_TRUE(mail.Ended());
  EXPECT_EQ(Main->SessionState, TSessionState::ssRelaying);
  mail.Send("QUIT\r\n");
  EXPECT_EQ(server.Expect("QUIT\r\n"), "QUIT\r\n");
  mail.Close();
  EXPECT_TRUE(server.Ended());
  ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  EXPECT_EQ(LogFrom(LogSize() - 2),
            (Lines{"* 接続切断 " + kLocal, "* 接続切断 " + PeerText("::1")}));
  EXPECT_EQ(Main->ClientConnection, nullptr);
}

TEST_F(SessionTest, AMailProgramEndingItsSendingWhileRelayingGetsEveryAnswer) {
  // RETR, QUIT and the end in one go (nc -N): the server sees the commands, then the end, and its
  // answers all reach the mail program; by splicing and by copying.
  for (bool copying : {false, true}) {
    sockets::SetSpliceRefused(copying);
    Wire mail = MailProgram();
    Wire server = LoginWithAnswer(mail, "+OK\r\n");
    mail.Expect("+OK\r\n");
    mail.Send("RETR 1\r\nQUIT\r\n");
    mail.Raw().ShutdownWrite();
    EXPECT_EQ(server.Expect("RETR 1\r\nQUIT\r\n"), "RETR 1\r\nQUIT\r\n");
    EXPECT_TRUE(server.Ended());
    const std::string answer =
        "+OK message follows\r\n" + test::Pattern(6 << 20, 13) + "\r\n.\r\n+OK bye\r\n";
    std::thread sender([&] {
      server.Raw().Send(answer, 60000);
      server.Close();
    });
    EXPECT_TRUE(mail.Take(answer.size(), 60000) == answer) << copying;
    sender.join();
    EXPECT_TRUE(mail.Ended()) << copying;
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }
  sockets::SetSpliceRefused(false);
}

TEST_F(SessionTest, AMailProgramEndingItsSendingDuringTheLoginGetsEveryAnswer) {
  // The end comes while PASS waits for the server: the answer to PASS still comes, and on success
  // the pipelined commands and the end go to the server, whose answers come back.
  {
    Wire mail = MailProgram();
    mail.Send("USER alice@127.0.0.1\r\nPASS tanstaaf\r\nSTAT\r\n");
    mail.Raw().ShutdownWrite();
    Wire server(Server->Accept());
    ASSERT_TRUE(server.Open());
    server.Send(kGreeting);
    EXPECT_EQ(server.Expect(kApopLine), kApopLine);
    server.Send("+OK ready\r\n");
    EXPECT_EQ(server.Expect("STAT\r\n"), "STAT\r\n");
    EXPECT_TRUE(server.Ended());
    server.Send("+OK 1 120\r\n");
    server.Close();
    const std::string answers = "+OK kvale is a real hoopy frood\r\n+OK ready\r\n+OK 1 120\r\n";
    EXPECT_EQ(mail.Expect(answers), answers);
    EXPECT_TRUE(mail.Ended());
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }
  // Refused: the commands after PASS are answered in the login, then the mail program is closed
  // (an unfinished last line is no command).
  {
    Wire mail = MailProgram();
    mail.Send("USER alice@127.0.0.1\r\nPASS tanstaaf\r\nNOOP\r\nQUIT");
    mail.Raw().ShutdownWrite();
    Wire server(Server->Accept());
    ASSERT_TRUE(server.Open());
    server.Send(kGreeting);
    server.Expect(kApopLine);
    server.Send("-ERR no\r\n");
    const std::string answers =
        "+OK kvale is a real hoopy frood\r\n-ERR no\r\n-ERR unknown command\r\n";
    EXPECT_EQ(mail.Expect(answers), answers);
    EXPECT_TRUE(mail.Ended());
    EXPECT_TRUE(server.Ended());
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }
}

TEST_F(SessionTest, AMailProgramReconnectingAtOnceAfterItsEndIsServed) {
  // Its end has arrived before the newcomer, however the loop orders the two: closed or reset,
  // before or after a command, the next connection is greeted.
  constexpr int kRounds = 200;
  int refused = 0;
  Wire mail = MailProgram();
  for (int round = 0; round < kRounds; ++round) {
    if (round % 3 == 1) mail.Send("NOOP\r\n");
    if (round % 2 == 0)
      mail.Raw().Reset();
    else
      mail.Close();
    mail = Wire(Peer::Connect("127.0.0.1", ProxyPort));
    const std::string greeting = "+OK POP3 to APOP transfer ready\r\n";
    const std::string got = mail.Expect(greeting);
    if (got != greeting) {
      ++refused;
      ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
      mail = MailProgram();
    }
  }
  EXPECT_EQ(refused, 0);
  // While relaying the session ends only with the server's end: the newcomer waits for it.
  Wire server = LoginWithAnswer(mail, "+OK\r\n");
  mail.Expect("+OK\r\n");
  mail.Close();
  Wire next(Peer::Connect("127.0.0.1", ProxyPort));
  Wire third(Peer::Connect("127.0.0.1", ProxyPort));  // one waits at most
  EXPECT_EQ(third.Expect("-ERR already connection in use\r\n"),
            "-ERR already connection in use\r\n");
  EXPECT_TRUE(server.Ended());
  EXPECT_EQ(next.Drain(20), "");  // not greeted while the session finishes
  server.Close();
  EXPECT_EQ(next.Expect("+OK POP3 to APOP transfer ready\r\n"),
            "+OK POP3 to APOP transfer ready\r\n");
}

TEST_F(SessionTest, MailProgramEndingInEachStageEndsTheUpstreamConnection) {
  // Stage by stage: what the script does before the mail program leaves.
  for (int stage = 3; stage <= 6; ++stage) {
    Wire mail = MailProgram("::1");
    Wire server = Login(mail);
    ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == TLoginStage::lsGreeting; }));
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
      tail = test::Pattern(1 << 20, 9);
      mail.Send(tail);
    }
    // A mail program that has gone: an orderly end while PASS waits would still be answered, and
    // while relaying the server ends in turn.
    if (stage == 3 || stage == 4)
      mail.Raw().Reset();
    else
      mail.Close();
    EXPECT_TRUE(server.Take(tail.size()) == tail) << stage;
    EXPECT_TRUE(server.Ended()) << stage;
    if (stage == 6) server.Close();
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }))
        << stage;
    EXPECT_EQ(LogFrom(LogSize() - 2),
              (Lines{"* 接続切断 " + PeerText("::1"), "* 接続切断 " + kLocal}))
        << stage;
    EXPECT_FALSE(Main->APOPUpstreamSocket->Active());
  }
}

TEST_F(SessionTest, MailProgramLeavingWhileConnectingAbandonsTheConnect) {
  // A listener whose backlog is full leaves a connect hanging (its SYN is not answered).
  test::Listener slow("127.0.0.1");
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
  test::RunFor(100);
  ASSERT_EQ(Main->LoginStage, TLoginStage::lsConnecting);
  mail.Raw().Reset();  // gone; an orderly end would wait for the answer to PASS
  ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
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
  EXPECT_EQ(LogFrom(before),
            (Lines{"* 接続要求 " + PeerText("::1"), "*   他ユーザー接続中につき拒否",
                   "< -ERR already connection in use", "* 接続切断 " + PeerText("::1")}));
  // The first session goes on untouched.
  Wire server = LoginWithAnswer(first, "+OK\r\n");
  EXPECT_EQ(first.Expect("+OK\r\n"), "+OK\r\n");
}

TEST_F(SessionTest, OverlongLinesEndTheConnectionConcernedFinishedOrNot) {
  // The mail program's side: an unfinished line, and a finished one sent in one write.
  for (const std::string& line :
       {"USER " + std::string(9000, 'a'), "USER " + std::string(50000, 'a') + "@h\r\nQUIT\r\n"}) {
    Wire mail = MailProgram();
    mail.Send(line);
    EXPECT_EQ(mail.Expect("-ERR line too long\r\n"), "-ERR line too long\r\n");
    EXPECT_TRUE(mail.Ended());
    EXPECT_EQ(LogFrom(LogSize() - 3), (Lines{"* 行が長すぎます " + kLocal, "< -ERR line too long",
                                             "* 接続切断 " + kLocal}));
    EXPECT_EQ(Main->UserName, "");
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }

  // The server's side while PASS waits: the mail program is told, and may log in again.
  for (const std::string& line :
       {"+OK " + std::string(9000, 'g'), "+OK <1@x> " + std::string(50040, 'g') + "\r\n"}) {
    Wire mail = MailProgram();
    Wire server = Login(mail);
    server.Send(line);
    EXPECT_EQ(mail.Expect("-ERR line too long\r\n"), "-ERR line too long\r\n");
    EXPECT_TRUE(server.Ended());
    EXPECT_EQ(server.Drain(20), "");  // no APOP line of that greeting
    ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == TLoginStage::lsUserPass; }));
    EXPECT_FALSE(mail.Ended(50));
    mail.Close();
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }

  // Nothing waits for an answer (the login was refused, QUIT sent): the upstream connection is
  // closed and logged, and the mail program is told nothing.
  Wire mail = MailProgram();
  Wire server = LoginWithAnswer(mail, "-ERR no\r\n");
  mail.Expect("-ERR no\r\n");
  server.Expect("QUIT\r\n");
  server.Send(std::string(9000, 'g') + "\r\n");
  EXPECT_TRUE(server.Ended());
  ASSERT_TRUE(RunUntil([&] { return Main->LoginStage == TLoginStage::lsUserPass; }));
  EXPECT_EQ(LogFrom(LogSize() - 2), (Lines{"* 行が長すぎます " + kLocal, "* 接続切断 " + kLocal}));
  EXPECT_EQ(mail.Drain(50), "");
}

TEST_F(SessionTest, LoginCommandsWithControlBytesAreRefusedAndNeverTravel) {
  Wire mail = MailProgram();
  const std::string refused = "-ERR invalid character in command\r\n";
  for (const std::string& line : {"USER al\x1b[2Jice@127.0.0.1"s, "USER alice@127.0.0.1\x7f"s,
                                  "USER alice@127.0.0.1\rPASS x"s, "USER alice\0@127.0.0.1"s}) {
    mail.Send(line + "\r\n");
    EXPECT_EQ(mail.Expect(refused), refused) << line;
  }
  EXPECT_EQ(Main->UserName, "");
  EXPECT_EQ(Main->HostName, "");
  mail.Send("USER alice@127.0.0.1\r\n");
  mail.Expect("+OK kvale is a real hoopy frood\r\n");
  for (const std::string& password : {"tan\0staaf"s, "tan\rstaaf"s, "\x1b"s, "tanstaaf\t"s}) {
    mail.Send("PASS " + password + "\r\n");
    EXPECT_EQ(mail.Expect(refused), refused);
  }
  EXPECT_EQ(Main->Password, "");
  EXPECT_EQ(Main->LoginStage, TLoginStage::lsUserPass);
  EXPECT_FALSE(Server->Accept(50).Open());  // no connection was started

  // Bytes from 0x80 are text: a Shift-JIS password logs in (its digest computed on its bytes).
  const std::string password = "\x83\x70\x83\x58\xe3\x83\x91";
  mail.Send("PASS " + password + "\r\n");
  Wire server(Server->Accept());
  ASSERT_TRUE(server.Open());
  server.Send(kGreeting);
  Md5Context context;
  Byte digest[16];
  const std::string input = "<1896.697170952@dbc.mtview.ca.us>" + password;
  Md5Init(&context);
  Md5Update(&context, reinterpret_cast<const Byte*>(input.data()),
            static_cast<DWord>(input.size()));
  Md5Final(digest, &context);
  std::string hex;
  for (Byte b : digest) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  EXPECT_EQ(server.Expect("APOP alice " + hex + "\r\n"), "APOP alice " + hex + "\r\n");
}

TEST_F(SessionTest, PipelinedCommandsWaitForThePassAnswerAndKeepTheirOrder) {
  // Success: the commands after PASS reach the server unchanged, after the APOP line.
  {
    Wire mail = MailProgram();
    mail.Send("USER alice@127.0.0.1\r\nPASS tanstaaf\r\nSTAT\r\nNOOP\nLIST 1\r\n");
    Wire server(Server->Accept());
    ASSERT_TRUE(server.Open());
    EXPECT_EQ(mail.Expect("+OK kvale is a real hoopy frood\r\n"),
              "+OK kvale is a real hoopy frood\r\n");
    EXPECT_EQ(mail.Drain(50), "");  // nothing is answered before PASS
    mail.Send("UIDL\r\n");          // nor what comes later, on its own
    EXPECT_EQ(mail.Drain(50), "");
    server.Send(kGreeting);
    EXPECT_EQ(server.Expect(kApopLine), kApopLine);
    EXPECT_EQ(server.Drain(50), "");
    server.Send("+OK maildrop ready\r\n");
    EXPECT_EQ(mail.Expect("+OK maildrop ready\r\n"), "+OK maildrop ready\r\n");
    EXPECT_EQ(server.Expect("STAT\r\nNOOP\nLIST 1\r\nUIDL\r\n"),
              "STAT\r\nNOOP\nLIST 1\r\nUIDL\r\n");
    server.Send("+OK 1 120\r\n");
    EXPECT_EQ(mail.Expect("+OK 1 120\r\n"), "+OK 1 120\r\n");
    mail.Close();
    EXPECT_TRUE(server.Ended());
    server.Close();  // as a server does at its peer's end
    ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  }
  // Refusal: the commands after PASS are answered in the stage the login returned to.
  {
    Wire mail = MailProgram();
    mail.Send("USER alice@127.0.0.1\r\nPASS tanstaaf\r\nSTAT\r\nQUIT\r\n");
    Wire server(Server->Accept());
    ASSERT_TRUE(server.Open());
    server.Send(kGreeting);
    server.Expect(kApopLine);
    server.Send("-ERR no\r\n");
    const std::string answers =
        "+OK kvale is a real hoopy frood\r\n-ERR no\r\n"
        "-ERR unknown command\r\n+OK tovik POP3 server signing off\r\n";
    EXPECT_EQ(mail.Expect(answers), answers);
    EXPECT_EQ(server.Expect("QUIT\r\n"), "QUIT\r\n");
    EXPECT_EQ(server.Drain(50), "");
  }
}

TEST_F(SessionTest, NobodyHoldsTheSessionForever) {
  Main->LoginTimeoutMs = 300;
  // A mail program that never logs in is told and closed; the next one is served.
  {
    Wire idle = MailProgram();
    EXPECT_EQ(idle.Expect("-ERR timeout\r\n"), "-ERR timeout\r\n");
    EXPECT_TRUE(idle.Ended());
    EXPECT_EQ(LogFrom(LogSize() - 3),
              (Lines{"* 時間切れ " + kLocal, "< -ERR timeout", "* 接続切断 " + kLocal}));
    MailProgram();
  }
  ASSERT_TRUE(RunUntil([&] { return Main->SessionState == TSessionState::ssListening; }));
  Main->LoginTimeoutMs = kUnlimited;
  Main->ServerTimeoutMs = 300;
  // A server that accepts and never greets: PASS is answered as a failed connection.
  {
    Wire mail = MailProgram();
    Wire server = Login(mail);
    ASSERT_TRUE(server.Open());
    EXPECT_EQ(mail.Expect("-ERR server connection failed\r\n"),
              "-ERR server connection failed\r\n");
    EXPECT_TRUE(server.Ended());
    EXPECT_EQ(Main->LoginStage, TLoginStage::lsUserPass);
    // A server that greets and never answers APOP: the same.
    mail.Send("PASS tanstaaf\r\n");
    Wire second(Server->Accept());
    second.Send(kGreeting);
    EXPECT_EQ(second.Expect(kApopLine), kApopLine);
    EXPECT_EQ(mail.Expect("-ERR server connection failed\r\n"),
              "-ERR server connection failed\r\n");
    EXPECT_TRUE(second.Ended());
    // Once relaying, neither limit runs.
    Main->ServerTimeoutMs = kUnlimited;  // a loaded machine must not cut this login
    Wire third = LoginWithAnswer(mail, "+OK\r\n");
    EXPECT_EQ(mail.Expect("+OK\r\n"), "+OK\r\n");
    EXPECT_FALSE(Main->LoginTimer->Enabled());
    EXPECT_FALSE(Main->ServerTimer->Enabled());
  }
}

TEST_F(SessionTest, TheStandardErrorCopyOfTheLogIsOneSafeLineEach) {
  EXPECT_EQ(TMainForm::HeadlessLogLine("< PASS tan staaf"), "< PASS ****");
  EXPECT_EQ(TMainForm::HeadlessLogLine("< pass x"), "< pass ****");
  EXPECT_EQ(TMainForm::HeadlessLogLine("< PASS"), "< PASS");
  EXPECT_EQ(TMainForm::HeadlessLogLine("> +OK <a@b>"), "> +OK <a@b>");
  EXPECT_EQ(TMainForm::HeadlessLogLine("< USER a\x1b[2J\r\nb\0c\\d\x7f"s),
            "< USER a\\x1b[2J\\r\\nb\\x00c\\\\d\\x7f");
  EXPECT_EQ(TMainForm::HeadlessLogLine(Sjis("* 接続要求 ")), "* 接続要求 ");
  // The APOP digest, which with the logged timestamp gives the password away offline.
  const std::string stars(32, '*');
  EXPECT_EQ(TMainForm::HeadlessLogLine("> APOP alice c4c9334bac560ecc979e58001b3e22fb"),
            "> APOP alice " + stars);
  EXPECT_EQ(TMainForm::HeadlessLogLine("*   alice c4c9334bac560ecc979e58001b3e22fb"),
            "*   alice " + stars);
  EXPECT_EQ(TMainForm::HeadlessLogLine("*   a b c4c9334bac560ecc979e58001b3e22fb"),
            "*   a b " + stars);
  EXPECT_EQ(TMainForm::HeadlessLogLine("< apop mrose c4c9334bac560ecc979e58001b3e22fb"),
            "< apop mrose " + stars);
  EXPECT_EQ(TMainForm::HeadlessLogLine("< APOP secret"), "< APOP " + stars);
  EXPECT_EQ(TMainForm::HeadlessLogLine(Sjis("*   接続 - 認証開始")), "*   接続 - 認証開始");
}

TEST_F(SessionTest, TheStandardErrorCopyKeepsNeitherPasswordNorDigest) {
  ::testing::internal::CaptureStderr();
  Wire mail = MailProgram();
  Wire server = LoginWithAnswer(mail, "+OK maildrop has 2 messages\r\n");
  mail.Expect("+OK maildrop has 2 messages\r\n");
  const std::string copy = ::testing::internal::GetCapturedStderr();
  const std::string stars(32, '*');
  EXPECT_NE(copy.find("> APOP alice " + stars + "\n"), std::string::npos) << copy;
  EXPECT_NE(copy.find("*   alice " + stars + "\n"), std::string::npos) << copy;
  EXPECT_EQ(copy.find("tanstaaf"), std::string::npos) << copy;
  std::size_t run = 0;  // the longest run of hexadecimal digits
  std::size_t longest = 0;
  for (char c : copy) {
    run = std::isxdigit(static_cast<unsigned char>(c)) ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  EXPECT_LT(longest, 32u) << copy;
  // The log window keeps showing everything.
  const Lines log = LogFrom();
  EXPECT_NE(std::find(log.begin(), log.end(), "> APOP alice c4c9334bac560ecc979e58001b3e22fb"),
            log.end());
}

TEST_F(SessionTest, ASlowReaderHoldsTheServerBackWithBoundedMemory) {
  Wire mail = MailProgram();
  mail.Raw().SetReceiveBuffer(32768);
  Wire server = LoginWithAnswer(mail, "+OK\r\n");
  mail.Expect("+OK\r\n");
  const std::string data = test::Pattern(24 << 20, 3);
  std::thread sender([&] { server.Raw().Send(data, 60000); });
  std::size_t highest = 0;
  const bool heldBack = RunUntil([&] {
    highest = std::max(highest, Main->ClientConnection->SendPending());
    return Main->APOPUpstreamSocket->Socket()->ReadingPaused();
  });
  EXPECT_TRUE(heldBack);  // the server is no longer read while the mail program lags
  EXPECT_LE(highest, 1024u * 1024);
  std::string got = mail.Take(data.size(), 60000);
  sender.join();
  EXPECT_TRUE(got == data);
}

// Sends Unit to Sender, a thousand at a time and without blocking, until Held says the proxy holds
// back (and at most Most times); then reads everything the mail program is sent back. However
// much the kernel buffers, the proxy is pushed until it holds back. Returns how many Units went
// out and what came back; Watch sees each round.
struct FloodResult {
  std::size_t Sent = 0;
  bool HeldBack = false;
  std::string Answers;
};
FloodResult FloodUntilHeldBack(Peer& Sender, const std::string& Unit, Wire& Mail,
                               const std::function<bool()>& Held,
                               const std::function<void()>& Watch,
                               std::size_t ExpectedAnswerBytes) {
  constexpr std::size_t kChunk = 1000, kMost = 200000;
  FloodResult result;
  std::string pending;
  result.HeldBack = RunUntil(
      [&] {
        Watch();
        if (pending.empty() && result.Sent < kMost) {
          for (std::size_t i = 0; i < kChunk; ++i) pending += Unit;
          result.Sent += kChunk;
        }
        Sender.SendSome(pending);
        return Held();
      },
      120000);
  // The rest of the last chunk goes out while the mail program reads its answers at last.
  RunUntil(
      [&] {
        Watch();
        Sender.SendSome(pending);
        result.Answers += Mail.Raw().ReadAvailable();
        return pending.empty() && result.Answers.size() >= ExpectedAnswerBytes * result.Sent &&
               !Held();
      },
      120000);
  return result;
}

TEST_F(SessionTest, AMailProgramLeavingRepliesUnreadIsHeldBackWithBoundedMemory) {
  constexpr std::size_t kReplyBound = 64 * 1024;  // the proxy's bound on replies waiting
  const std::string command = "USER x\r\n", reply = "-ERR hostname without existing\r\n";
  Wire mail = MailProgram("127.0.0.1", 4096);
  const int sendBuffer = 4096;
  ::setsockopt(Main->ClientConnection->Internals().Fd.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer,
               sizeof sendBuffer);
  TCustomWinSocket* client = Main->ClientConnection;
  std::size_t highest = 0, mostBuffered = 0;
  // Held back: the proxy reads no more, and commands it has not read wait in the kernel.
  const FloodResult flood = FloodUntilHeldBack(
      mail.Raw(), command, mail,
      [&] { return client->ReadingPaused() && client->ReceiveLength() > 0; },
      [&] {
        highest = std::max(highest, client->SendPending());
        mostBuffered = std::max(mostBuffered, Main->ClientBuffer.size());
      },
      reply.size());
  EXPECT_TRUE(flood.HeldBack);
  EXPECT_GE(highest, kReplyBound);
  EXPECT_LT(highest, kReplyBound + reply.size());
  EXPECT_LE(mostBuffered, 16u * 1024);  // one piece at most waits in the proxy
  // Every command is answered, in order.
  std::string expected;
  for (std::size_t i = 0; i < flood.Sent; ++i) expected += reply;
  EXPECT_TRUE(flood.Answers == expected) << flood.Answers.size() << " of " << expected.size();
  EXPECT_EQ(Main->SessionState, TSessionState::ssLogin);
}

TEST_F(SessionTest, AServerFloodingAMailProgramThatDoesNotReadIsHeldBack) {
  constexpr std::size_t kReplyBound = 64 * 1024;
  const std::string failed = "-ERR server connection failed\r\n";
  Wire mail = MailProgram("127.0.0.1", 4096);
  const int sendBuffer = 4096;
  ::setsockopt(Main->ClientConnection->Internals().Fd.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer,
               sizeof sendBuffer);
  Wire server = Login(mail);
  ASSERT_TRUE(server.Open());
  TCustomWinSocket* upstream = Main->APOPUpstreamSocket->Socket();
  std::size_t highest = 0, mostBuffered = 0;
  // Each "-" line of the greeting is answered; while the answers wait unread, the server is not
  // read either.
  const FloodResult flood = FloodUntilHeldBack(
      server.Raw(), "-\r\n", mail,
      [&] { return upstream->ReadingPaused() && upstream->ReceiveLength() > 0; },
      [&] {
        highest = std::max(highest, Main->ClientConnection->SendPending());
        mostBuffered = std::max(mostBuffered, Main->ServerBuffer.size());
      },
      failed.size());
  EXPECT_TRUE(flood.HeldBack);
  EXPECT_LT(highest, kReplyBound + failed.size());
  EXPECT_LE(mostBuffered, 16u * 1024);
  EXPECT_EQ(flood.Answers.size(), flood.Sent * failed.size());
}

}  // namespace
}  // namespace ovelta
