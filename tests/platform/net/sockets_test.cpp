// The asynchronous sockets on real loopback connections and the real event loop: accepting on
// IPv4 and IPv6, peer names and addresses, connecting by name and by address without blocking,
// read events and receiving, Close raising the disconnect inside the call, error events followed
// by ESocketError, one event at a time, output that loses no byte (also after Close), forwarding
// with a bound, and resets.
#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Sockets.h"
#include "platform/net/Sockets_p.h"
#include "support/EventLoop.h"
#include "support/Poll.h"
#include "support/Loopback.h"

namespace ovelta {
namespace {

using test::Listener;
using test::Peer;
using test::RunFor;
using test::RunUntil;
using test::SystemName;

// A listener on a free port with every event recorded as text, in order.
class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureCoreApplication();
    FPreviousHook = SetSocketExceptionHook([this](const std::exception& E) {
      const auto* known = dynamic_cast<const Exception*>(&E);
      Hooked.push_back(known ? known->ClassName() : "std::exception");
    });
    Server = std::make_unique<TServerSocket>(nullptr);
    Server->SetPort(0);
    Server->OnClientConnect = [this](TObject* Sender, TCustomWinSocket* Socket) {
      EXPECT_EQ(Sender, Server.get());
      Events.push_back("connect");
      Accepted.push_back(Socket);
    };
    Server->OnClientRead = [this](TObject*, TCustomWinSocket* Socket) {
      Events.push_back("read");
      if (ReadAll) Received += Socket->ReceiveText();
    };
    Server->OnClientDisconnect = [this](TObject*, TCustomWinSocket* Socket) {
      Events.push_back("disconnect " + Socket->RemoteAddress());
      std::erase(Accepted, Socket);
    };
    Server->OnClientError = [this](TObject*, TCustomWinSocket*, TErrorEvent Kind, int& Code) {
      Events.push_back("error " + std::to_string(Kind));
      ErrorCodes.push_back(Code);
    };
    Server->Open();
    Port = Server->LocalPort();
  }
  void TearDown() override {
    Server.reset();
    SetSocketExceptionHook(std::move(FPreviousHook));
    test::Settle();
  }

  TCustomWinSocket* AcceptOne() {
    std::size_t before = Accepted.size();
    if (!RunUntil([&] { return Accepted.size() > before; })) return nullptr;
    return Accepted.back();
  }

  std::unique_ptr<TServerSocket> Server;
  int Port = 0;
  std::vector<std::string> Events;
  std::vector<TCustomWinSocket*> Accepted;
  std::vector<int> ErrorCodes;
  std::vector<std::string> Hooked;
  std::string Received;
  bool ReadAll = true;

 private:
  TSocketExceptionHook FPreviousHook;
};

TEST_F(ServerFixture, ListensOnIPv4AndIPv6WithPeerNamesAndDottedAddresses) {
  ASSERT_TRUE(Server->Active());
  ASSERT_GT(Port, 0);
  Peer v4 = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* first = AcceptOne();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->RemoteAddress(), "127.0.0.1");
  EXPECT_EQ(first->RemoteHost(), SystemName("127.0.0.1"));
  EXPECT_TRUE(first->Connected());
  EXPECT_EQ(first->LocalPort(), Port);

  Peer v6 = Peer::Connect("::1", Port);
  TCustomWinSocket* second = AcceptOne();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->RemoteAddress(), "::1");
  EXPECT_EQ(second->RemoteHost(), SystemName("::1"));
  EXPECT_EQ(Server->ActiveConnections(), 2);
  EXPECT_EQ(Server->Connections(1), second);
}

TEST_F(ServerFixture, ReceiveReturnsEveryWaitingByteAndReadEventsWaitForAReceive) {
  ReadAll = false;
  Peer peer = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  ASSERT_TRUE(peer.Send("first"));
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "read"; }));
  ASSERT_TRUE(peer.Send(" second"));
  RunFor(150);  // no receive call yet: no second read event
  EXPECT_EQ(std::count(Events.begin(), Events.end(), "read"), 1);
  EXPECT_EQ(socket->ReceiveLength(), 12u);
  EXPECT_EQ(socket->ReceiveText(), "first second");
  EXPECT_EQ(socket->ReceiveText(), "");

  ReadAll = true;
  const std::string big = test::Pattern(300000);
  std::thread sender([&] { peer.Send(big); });
  ASSERT_TRUE(RunUntil([&] { return Received.size() >= big.size(); }));
  sender.join();
  EXPECT_EQ(Received, big);
}

TEST_F(ServerFixture, CloseRaisesTheDisconnectInsideTheCallOnce) {
  Peer peer = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  int closesInside = 0;
  Server->OnClientDisconnect = [&](TObject*, TCustomWinSocket* Each) {
    Events.push_back("disconnect " + Each->RemoteHost() + "(" + Each->RemoteAddress() + ")");
    EXPECT_FALSE(Each->Connected());
    Each->Close();  // closing again from inside its own disconnect changes nothing
    ++closesInside;
  };
  Events.clear();
  socket->Close();
  ASSERT_EQ(Events.size(), 1u);  // raised before Close returned
  EXPECT_EQ(Events[0], "disconnect " + SystemName("127.0.0.1") + "(127.0.0.1)");
  EXPECT_EQ(closesInside, 1);
  EXPECT_EQ(Server->ActiveConnections(), 0);
  bool ended = false;
  EXPECT_TRUE(RunUntil([&] {
    peer.ReadAvailable(&ended);
    return ended;
  }));
  RunFor(50);
  EXPECT_EQ(Events.size(), 1u);
}

TEST_F(ServerFixture, PeerEndAndServerCloseEachEndConnectionsWithOneDisconnect) {
  Peer a = Peer::Connect("127.0.0.1", Port);
  ASSERT_NE(AcceptOne(), nullptr);
  Peer b = Peer::Connect("::1", Port);
  ASSERT_NE(AcceptOne(), nullptr);
  Peer c = Peer::Connect("127.0.0.1", Port);
  ASSERT_NE(AcceptOne(), nullptr);

  ASSERT_TRUE(a.Send("bye"));
  a.Close();  // the bytes before the end are read first
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "disconnect 127.0.0.1"; }));
  EXPECT_EQ(Received, "bye");

  Events.clear();
  Server->Close();  // ends the remaining two, each inside the call
  EXPECT_EQ(Events, (std::vector<std::string>{"disconnect ::1", "disconnect 127.0.0.1"}));
  EXPECT_FALSE(Server->Active());
  EXPECT_EQ(Server->LocalPort(), 0);
  EXPECT_THROW(Peer::Connect("127.0.0.1", Port), std::runtime_error);
}

TEST_F(ServerFixture, PortInUseThrowsAndPropertiesAreFixedWhileActive) {
  TServerSocket second(nullptr);
  second.SetPort(Port);
  try {
    second.Open();
    FAIL() << "a second listener on the same port opened";
  } catch (const Exception& E) {
    EXPECT_EQ(E.ClassName(), "ESocketError");
    EXPECT_NE(E.Message().find("bind"), std::string::npos);
  }
  EXPECT_FALSE(second.Active());
  EXPECT_THROW(Server->SetPort(1234), ESocketError);
  EXPECT_THROW(second.SetPort(70000), ESocketError);
}

// True when something accepts connections on Host and Port.
bool Answers(const std::string& Host, int Port) {
  try {
    Peer::Connect(Host, Port);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

TEST(ListenAddresses, GivenAddressesAreTheOnlyOnesListenedOn) {
  test::EnsureCoreApplication();
  TServerSocket server(nullptr);
  server.SetPort(0);
  server.SetAddresses({"127.0.0.1", "::1", "127.0.0.1"});  // the repeated one counts once
  server.Open();
  const int port = server.LocalPort();
  ASSERT_GT(port, 0);
  EXPECT_TRUE(Answers("127.0.0.1", port));
  EXPECT_TRUE(Answers("::1", port));
  EXPECT_FALSE(Answers("127.0.0.2", port));  // another address of this machine
  EXPECT_THROW(server.SetAddresses({}), ESocketError);  // fixed while active
  server.Close();
  EXPECT_FALSE(Answers("127.0.0.1", port));

  for (const char* bad : {"localhost", "", "127.0.0.256", "[::1]", "::1%lo", "1", " 127.0.0.1"}) {
    EXPECT_FALSE(ValidListenAddress(bad)) << bad;
    EXPECT_THROW(server.SetAddresses({bad}), ESocketError) << bad;
  }
  EXPECT_EQ(server.Addresses().size(), 3u);  // a refused list changes nothing
}

TEST(ListenAddresses, SocketsBoundAheadListenOnlyOnceOpenedAndTheirFailureWaitsForOpen) {
  test::EnsureCoreApplication();
  TBoundSockets bound = TBoundSockets::Bind({"127.0.0.1"}, 0);
  ASSERT_TRUE(bound.Bound()) << bound.Error();
  TServerSocket server(nullptr);
  server.SetPort(0);
  server.Adopt(std::move(bound));
  EXPECT_FALSE(server.Active());
  server.Open();
  const int port = server.LocalPort();
  ASSERT_GT(port, 0);
  EXPECT_TRUE(Answers("127.0.0.1", port));
  EXPECT_FALSE(Answers("::1", port));

  // The port is taken: binding ahead fails and keeps nothing; the listener's Open tells why.
  TBoundSockets taken = TBoundSockets::Bind({"::1", "127.0.0.1"}, port);
  EXPECT_FALSE(taken.Bound());
  EXPECT_NE(taken.Error().find("bind"), std::string::npos) << taken.Error();
  EXPECT_TRUE(TBoundSockets::Bind({"::1"}, port).Bound());  // the first of the pair was let go
  TServerSocket second(nullptr);
  second.Adopt(std::move(taken));
  try {
    second.Open();
    FAIL() << "a listener opened on a binding that failed";
  } catch (const ESocketError& E) {
    EXPECT_NE(E.Message().find("bind"), std::string::npos);
  }
  EXPECT_FALSE(second.Active());
}

TEST_F(ServerFixture, ResetIsAnErrorThenESocketErrorThenTheDisconnect) {
  Peer peer = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  Events.clear();
  peer.Reset();
  ASSERT_TRUE(RunUntil([&] { return Events.size() >= 2; }));
  RunFor(50);
  EXPECT_EQ(Events, (std::vector<std::string>{"error " + std::to_string(eeReceive),
                                              "disconnect 127.0.0.1"}));
  EXPECT_EQ(ErrorCodes, (std::vector<int>{ECONNRESET}));
  EXPECT_EQ(Hooked, (std::vector<std::string>{"ESocketError"}));
}

TEST_F(ServerFixture, AnErrorHandlerThatClearsTheCodeSwallowsTheException) {
  Server->OnClientError = [&](TObject*, TCustomWinSocket*, TErrorEvent, int& Code) {
    Events.push_back("error");
    Code = 0;
  };
  Peer peer = Peer::Connect("127.0.0.1", Port);
  ASSERT_NE(AcceptOne(), nullptr);
  peer.Reset();
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "disconnect 127.0.0.1"; }));
  EXPECT_TRUE(Hooked.empty());
}

TEST_F(ServerFixture, HandlerExceptionsGoToTheHookNotAcrossTheEventLoop) {
  Server->OnClientRead = [](TObject*, TCustomWinSocket* Socket) {
    Socket->ReceiveText();
    throw std::runtime_error("handler failed");
  };
  Peer peer = Peer::Connect("127.0.0.1", Port);
  ASSERT_NE(AcceptOne(), nullptr);
  ASSERT_TRUE(peer.Send("x"));
  ASSERT_TRUE(RunUntil([&] { return !Hooked.empty(); }));
  EXPECT_EQ(Hooked[0], "std::exception");
}

TEST_F(ServerFixture, EventsRunOneAtATimeEvenAcrossAModalLoop) {
  Peer a = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* first = AcceptOne();
  Peer b = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* second = AcceptOne();
  ASSERT_TRUE(first && second);
  int depth = 0, deepest = 0;
  std::vector<std::string> order;
  Server->OnClientRead = [&](TObject*, TCustomWinSocket* Socket) {
    ++depth;
    deepest = std::max(deepest, depth);
    std::string text = Socket->ReceiveText();
    order.push_back(text + " begins");
    if (text == "slow") {
      // A modal box would run a nested loop like these; b's data arrives meanwhile and waits.
      EXPECT_TRUE(b.Send("quick"));
      EXPECT_TRUE(RunUntil([&] { return test::UnreadBytes(second->Internals().Fd.Get()) > 0; }));
      RunFor(200);
    }
    order.push_back(text + " ends");
    --depth;
  };
  ASSERT_TRUE(a.Send("slow"));
  ASSERT_TRUE(RunUntil([&] { return order.size() == 4; }));
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(order,
            (std::vector<std::string>{"slow begins", "slow ends", "quick begins", "quick ends"}));
}

TEST_F(ServerFixture, OutputThatWaitsIsSentInOrderAndTheDrainIsReported) {
  Peer peer = Peer::Connect("127.0.0.1", Port);
  peer.SetReceiveBuffer(16384);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  int drained = 0;
  Server->OnClientWrite = [&](TObject*, TCustomWinSocket*) { ++drained; };
  const std::string data = test::Pattern(6 << 20);
  // Three pieces, so that later sends queue behind earlier ones.
  EXPECT_EQ(socket->SendText(data.substr(0, 1 << 20)), 1 << 20);
  EXPECT_EQ(socket->SendText(data.substr(1 << 20, 3 << 20)), 3 << 20);
  EXPECT_EQ(socket->SendText(data.substr(4 << 20)), 2 << 20);
  EXPECT_GT(socket->SendPending(), 0u);  // the peer has read nothing yet
  std::string got;
  ASSERT_TRUE(RunUntil([&] {
    got += peer.ReadAvailable();
    return got.size() >= data.size();
  }));
  EXPECT_TRUE(got == data);
  ASSERT_TRUE(RunUntil([&] { return drained > 0; }));
  EXPECT_EQ(drained, 1);
  EXPECT_EQ(socket->SendPending(), 0u);
}

TEST_F(ServerFixture, OutputHandedOverBeforeCloseIsStillDelivered) {
  Peer peer = Peer::Connect("127.0.0.1", Port);
  peer.SetReceiveBuffer(16384);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  ReadAll = false;
  ASSERT_TRUE(peer.Send("unread by the server"));  // unread input must not reset the end
  ASSERT_TRUE(RunUntil([&] { return !Events.empty() && Events.back() == "read"; }));
  const std::string data = test::Pattern(4 << 20, 7);
  socket->SendText(data);
  socket->Close();
  std::string got;
  bool ended = false;
  std::thread reader([&] { got = peer.ReadToEnd(test::kDeadlineMs, &ended, 256 * 1024, 5); });
  RunUntil([&] { return ended; });
  reader.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
}

TEST_F(ServerFixture, ForwardMovesBytesUnchangedWithinTheLimit) {
  Peer source = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* from = AcceptOne();
  Peer sink = Peer::Connect("127.0.0.1", Port);
  sink.SetReceiveBuffer(16384);
  TCustomWinSocket* to = AcceptOne();
  ASSERT_TRUE(from && to);
  constexpr std::size_t kLimit = 128 * 1024;
  std::size_t highest = 0;
  int pauses = 0;
  Server->OnClientRead = [&](TObject*, TCustomWinSocket* Socket) {
    ASSERT_EQ(Socket, from);
    from->ForwardTo(*to, kLimit);
    highest = std::max(highest, to->SendPending());
    if (to->SendPending() >= kLimit) {
      from->PauseReading(true);
      ++pauses;
    }
  };
  Server->OnClientWrite = [&](TObject*, TCustomWinSocket* Socket) {
    if (Socket == to && from) from->PauseReading(false);
  };
  // The source ends before the sink has read everything: from then on its connection object is
  // gone (freed after its disconnect event), and a relay must forget it there.
  Server->OnClientDisconnect = [&](TObject*, TCustomWinSocket* Socket) {
    if (Socket == from) from = nullptr;
    if (Socket == to) to = nullptr;
  };
  const std::string data = test::Pattern(8 << 20, 11);
  std::thread sender([&] {
    source.Send(data, 30000);
    source.ShutdownWrite();
  });
  std::string got;
  // A slow reader: the forwarding side must hold back instead of buffering.
  ASSERT_TRUE(RunUntil([&] {
    got += sink.ReadAvailable();
    return got.size() >= data.size();
  }));
  sender.join();
  EXPECT_TRUE(got == data);
  EXPECT_LE(highest, kLimit);
  EXPECT_GT(pauses, 0);  // the slow reader did hold the source back
}

TEST_F(ServerFixture, AnEndOfSendingIsPassedOnAfterTheForwardedBytesOnBothPaths) {
  for (bool copying : {false, true}) {
    sockets::SetSpliceRefused(copying);
    Peer source = Peer::Connect("127.0.0.1", Port);
    TCustomWinSocket* from = AcceptOne();
    Peer sink = Peer::Connect("127.0.0.1", Port);
    sink.SetReceiveBuffer(16384);
    TCustomWinSocket* to = AcceptOne();
    ASSERT_TRUE(from && to);
    Events.clear();
    constexpr std::size_t kLimit = 128 * 1024;
    std::string back;
    Server->OnClientRead = [&](TObject*, TCustomWinSocket* Socket) {
      if (Socket == to) {
        back += Socket->ReceiveText();
        return;
      }
      from->ForwardTo(*to, kLimit);
      if (to->SendPending() >= kLimit) from->PauseReading(true);
    };
    Server->OnClientWrite = [&](TObject*, TCustomWinSocket* Socket) {
      if (Socket == to) from->PauseReading(false);
    };
    Server->OnClientInputEnd = [&](TObject*, TCustomWinSocket* Socket) {
      Events.push_back(Socket == from ? "from ended" : "to ended");
      EXPECT_TRUE(Socket->InputEnded());
      if (Socket == from) to->ShutdownOutput();  // waits for the bytes still on their way
    };
    const std::string data = test::Pattern(4 << 20, 17);
    std::thread sender([&] {
      source.Send(data, 30000);
      source.ShutdownWrite();
    });
    std::string got;
    bool ended = false;
    ASSERT_TRUE(RunUntil([&] {
      got += sink.ReadAvailable(&ended);
      return ended;
    })) << copying;
    sender.join();
    EXPECT_TRUE(got == data) << copying << " " << got.size();
    EXPECT_EQ(to->SendText("late"), -1);  // nothing is taken after the end
    // Both stay open the other way.
    ASSERT_TRUE(sink.Send("reply"));
    ASSERT_TRUE(RunUntil([&] { return back == "reply"; })) << copying;
    EXPECT_EQ(from->SendText("to the source"), 13);
    std::string toSource;
    EXPECT_TRUE(RunUntil([&] {
      toSource += source.ReadAvailable();
      return toSource == "to the source";
    })) << toSource;
    // The sink ends too: both directions of `to` have ended, and it ends by itself.
    sink.Close();
    ASSERT_TRUE(RunUntil([&] { return Events.back() == "disconnect 127.0.0.1"; })) << copying;
    EXPECT_EQ(Events, (std::vector<std::string>{"from ended", "to ended", "disconnect 127.0.0.1"}));
    EXPECT_EQ(Accepted, (std::vector<TCustomWinSocket*>{from}));
    from->Close();
    Server->OnClientInputEnd = nullptr;
  }
  sockets::SetSpliceRefused(false);
}

TEST_F(ServerFixture, AHalfClosedConnectionWithoutProgressEnds) {
  // A peer that ends its sending and then neither reads nor ends cannot hold the connection.
  sockets::SetHalfCloseIdleMs(100);
  Server->OnClientInputEnd = [&](TObject*, TCustomWinSocket*) { Events.push_back("input end"); };
  Peer peer = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  peer.ShutdownWrite();
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "input end"; }));
  socket->SendText(std::string(8 << 20, 'x'));  // more than the kernel takes: the peer never reads
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "disconnect 127.0.0.1"; }));
  sockets::SetHalfCloseIdleMs(sockets::kHalfCloseIdleMs);
  EXPECT_TRUE(Accepted.empty());
}

TEST_F(ServerFixture, CatchUpReportsAnArrivedEndInsideTheCall) {
  // Without an input-end event: the bytes before the end, then the disconnect.
  Peer peer = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  socket->CatchUp();  // nothing has ended: nothing happens
  Events.clear();
  ASSERT_TRUE(peer.Send("bye"));
  peer.Close();
  ASSERT_TRUE(test::PollUntil([&] { return test::PeerGone(socket->Internals().Fd.Get()); }));
  socket->CatchUp();
  EXPECT_EQ(Events, (std::vector<std::string>{"read", "disconnect 127.0.0.1"}));
  EXPECT_EQ(Received, "bye");

  // A reset: the error, then the disconnect, then ESocketError to the caller.
  Peer second = Peer::Connect("127.0.0.1", Port);
  socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  Events.clear();
  second.Reset();
  ASSERT_TRUE(test::PollUntil([&] { return test::PeerGone(socket->Internals().Fd.Get()); }));
  EXPECT_THROW(socket->CatchUp(), ESocketError);
  EXPECT_EQ(Events, (std::vector<std::string>{"error " + std::to_string(eeReceive),
                                              "disconnect 127.0.0.1"}));
}

TEST_F(ServerFixture, RefusedNewcomersNeverCutTheTailOfAFinishedSession) {
  Peer reader = Peer::Connect("127.0.0.1", Port);
  reader.SetReceiveBuffer(16384);
  TCustomWinSocket* session = AcceptOne();
  ASSERT_NE(session, nullptr);
  const std::string tail = test::Pattern(4 << 20, 21);
  session->SendText(tail);
  session->Close();  // most of the tail still waits: the connection lingers
  // More refused newcomers than may linger, each told one line and closed briefly; none of them
  // reads or leaves, so each one lingers as long as it may.
  std::vector<Peer> flood;
  for (std::size_t i = 0; i < sockets::kMaxLingering + 40; ++i) {
    flood.push_back(Peer::Connect("127.0.0.1", Port));
    TCustomWinSocket* newcomer = AcceptOne();
    ASSERT_NE(newcomer, nullptr);
    newcomer->SendText("-ERR already connection in use\r\n");
    newcomer->CloseBriefly();
  }
  EXPECT_LE(sockets::SocketService::Instance().LingeringCount(), sockets::kMaxLingering);
  std::string got;
  bool ended = false;
  ASSERT_TRUE(RunUntil(
      [&] {
        got += reader.ReadAvailable(&ended);
        return ended;
      },
      60000));
  EXPECT_TRUE(got == tail) << got.size();
  // The newcomers cut first still had their line.
  EXPECT_EQ(flood.front().ReadAvailable(), "-ERR already connection in use\r\n");
}

TEST(SocketLifetime, TasksOfAFreedSocketFindItGone) {
  test::EnsureCoreApplication();
  Listener listener("127.0.0.1");
  for (const char* host : {"", "localhost"}) {
    bool raised = false;
    auto client = std::make_unique<TClientSocket>(nullptr);
    if (*host)
      client->SetHost(host);
    else
      client->SetAddress("127.0.0.1");
    client->SetPort(listener.Port());
    client->OnConnect = [&](TObject*, TCustomWinSocket*) { raised = true; };
    client->OnError = [&](TObject*, TCustomWinSocket*, TErrorEvent, int&) { raised = true; };
    client->Open();  // the connect (or the look-up's answer) is handed to the event loop
    client.reset();
    // Under the sanitizers a task that reached the freed socket is a heap-use-after-free.
    test::RunFor(200);
    test::Settle();
    EXPECT_FALSE(raised) << host;
  }
}

TEST_F(ServerFixture, SendingToAPeerThatHasGoneFailsWithESocketError) {
  Peer peer = Peer::Connect("127.0.0.1", Port);
  TCustomWinSocket* socket = AcceptOne();
  ASSERT_NE(socket, nullptr);
  Server->OnClientRead = [this](TObject*, TCustomWinSocket*) { Events.push_back("read"); };
  ASSERT_TRUE(peer.Send("x"));
  ASSERT_TRUE(RunUntil([&] { return !Events.empty() && Events.back() == "read"; }));
  peer.Reset();
  // The reset arrives; the handler has not received, so only a send sees it.
  ASSERT_TRUE(RunUntil([&] { return test::PeerGone(socket->Internals().Fd.Get()); }));
  ASSERT_FALSE(Accepted.empty());
  Events.clear();
  EXPECT_THROW(
      {
        socket->SendText("into the void");
        socket->SendText("again");
      },
      ESocketError);
  ASSERT_FALSE(Events.empty());
  EXPECT_EQ(Events[0].rfind("error ", 0), 0u);
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "disconnect 127.0.0.1"; }));
}

// ---- the client socket ----

class ClientFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureCoreApplication();
    FPreviousHook = SetSocketExceptionHook([this](const std::exception& E) {
      const auto* known = dynamic_cast<const Exception*>(&E);
      Hooked.push_back(known ? known->ClassName() : "std::exception");
      Events.push_back("exception");
    });
    Client = std::make_unique<TClientSocket>(nullptr);
    Client->OnConnect = [this](TObject* Sender, TCustomWinSocket* Socket) {
      EXPECT_EQ(Sender, Client.get());
      EXPECT_EQ(Socket, Client->Socket());
      Events.push_back("connect " + Socket->RemoteAddress());
    };
    Client->OnRead = [this](TObject*, TCustomWinSocket* Socket) {
      Received += Socket->ReceiveText();
      Events.push_back("read");
    };
    Client->OnDisconnect = [this](TObject*, TCustomWinSocket*) { Events.push_back("disconnect"); };
    Client->OnError = [this](TObject*, TCustomWinSocket*, TErrorEvent Kind, int& Code) {
      Events.push_back("error " + std::to_string(Kind));
      ErrorCodes.push_back(Code);
    };
  }
  void TearDown() override {
    Client.reset();
    SetSocketExceptionHook(std::move(FPreviousHook));
    test::Settle();
  }

  std::unique_ptr<TClientSocket> Client;
  std::vector<std::string> Events;
  std::vector<int> ErrorCodes;
  std::vector<std::string> Hooked;
  std::string Received;

 private:
  TSocketExceptionHook FPreviousHook;
};

TEST_F(ClientFixture, ConnectsByNameWithoutBlockingTheEventLoop) {
  Listener listener;
  Client->SetHost("localhost");
  Client->SetPort(listener.Port());
  Client->Open();
  // Open only starts: nothing is connected and no event has run yet.
  EXPECT_TRUE(Client->Active());
  EXPECT_FALSE(Client->Socket()->Connected());
  EXPECT_TRUE(Events.empty());
  bool timerRan = false;
  QTimer::singleShot(0, [&] { timerRan = true; });
  Peer server = listener.Accept();
  ASSERT_TRUE(server.Open());
  ASSERT_TRUE(RunUntil([&] { return !Events.empty(); }));
  EXPECT_TRUE(timerRan);
  EXPECT_EQ(Events[0], "connect 127.0.0.1");
  EXPECT_EQ(Client->Socket()->RemoteHost(), SystemName("127.0.0.1"));
  EXPECT_THROW(Client->SetHost("elsewhere"), ESocketError);

  ASSERT_TRUE(server.Send("+OK hello\r\n"));
  ASSERT_TRUE(RunUntil([&] { return Received == "+OK hello\r\n"; }));
  Client->Socket()->SendText("QUIT\r\n");
  std::string got;
  ASSERT_TRUE(RunUntil([&] {
    got += server.ReadAvailable();
    return got == "QUIT\r\n";
  }));
  server.Close();
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "disconnect"; }));
  EXPECT_FALSE(Client->Active());
  EXPECT_FALSE(Client->Socket()->Connected());
  EXPECT_EQ(Client->Socket()->RemoteAddress(), "");
}

TEST_F(ClientFixture, ConnectsByIPv4AndIPv6Address) {
  for (const char* address : {"127.0.0.1", "::1"}) {
    Listener listener(address);
    Events.clear();
    Client->SetHost("");
    Client->SetAddress(address);
    Client->SetPort(listener.Port());
    Client->Open();
    Peer server = listener.Accept();
    ASSERT_TRUE(RunUntil([&] { return !Events.empty(); })) << address;
    EXPECT_EQ(Events[0], std::string("connect ") + address);
    Client->Close();  // the disconnect is raised inside the call
    EXPECT_EQ(Events.back(), "disconnect");
    EXPECT_FALSE(Client->Active());
  }
}

TEST_F(ClientFixture, RefusedConnectIsAnErrorThenESocketErrorAndNothingElse) {
  Client->SetAddress("127.0.0.1");
  Client->SetPort(test::FreePort());
  Client->Open();
  ASSERT_TRUE(RunUntil([&] { return Events.size() >= 2; }));
  RunFor(100);
  EXPECT_EQ(Events, (std::vector<std::string>{"error " + std::to_string(eeConnect), "exception"}));
  EXPECT_EQ(ErrorCodes, (std::vector<int>{ECONNREFUSED}));
  EXPECT_EQ(Hooked, (std::vector<std::string>{"ESocketError"}));
  EXPECT_FALSE(Client->Active());
  // The socket can be used again at once.
  Listener listener;
  Client->SetPort(listener.Port());
  Client->Open();
  Peer server = listener.Accept();
  ASSERT_TRUE(RunUntil([&] { return Events.back() == "connect 127.0.0.1"; }));
}

TEST_F(ClientFixture, UnknownNamesAndBadAddressesAreLookupErrors) {
  Client->SetHost("no-such-host.invalid");
  Client->SetPort(110);
  Client->Open();
  ASSERT_TRUE(RunUntil([&] { return Events.size() >= 2; }));
  EXPECT_EQ(Events[0], "error " + std::to_string(eeLookup));
  EXPECT_FALSE(Client->Active());

  Events.clear();
  Client->SetHost("");
  Client->SetAddress("300.1.2.3");
  Client->Open();
  ASSERT_TRUE(RunUntil([&] { return Events.size() >= 2; }));
  EXPECT_EQ(Events[0], "error " + std::to_string(eeLookup));
  EXPECT_EQ(Hooked.size(), 2u);
}

TEST_F(ClientFixture, ClosingWhileConnectingAbandonsWithoutEvents) {
  Listener listener;
  Client->SetHost("localhost");
  Client->SetPort(listener.Port());
  Client->Open();
  Client->Close();
  EXPECT_FALSE(Client->Active());
  RunFor(200);
  EXPECT_TRUE(Events.empty());
  // Reopened at once, to another port: the abandoned attempt leaves no trace.
  Listener other;
  Client->SetPort(other.Port());
  Client->Open();
  Peer server = other.Accept();
  ASSERT_TRUE(RunUntil([&] { return !Events.empty(); }));
  EXPECT_EQ(Events, (std::vector<std::string>{"connect 127.0.0.1"}));
}

}  // namespace
}  // namespace ovelta
