// Reading packs: versions 1 and 2 built by hand and converted, the check words under each check
// mode, the OvFILE calls (reads by items, seeks, raw reads of compressed members, whole members
// streamed), member streams, packs in a caller's stream, and the directory queries.
#include "pack/Pack.h"
#include "pack_support.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Text.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using namespace pack_test;

class PackRead : public ::testing::Test {
 protected:
  // Writes Bytes as a pack file and loads it with Mode; the result of LoadPack.
  bool Load(const std::string& Bytes, TCrcMode Mode = cmPackAll) {
    Pack.ClosePack();  // a file the pack holds open is not written over (Windows share modes)
    WriteAll(Dir.File("t.pak"), Bytes);
    Pack.SetCrcMode(Mode);
    return Pack.LoadPack(Dir.File("t.pak"));
  }
  std::string ReadMember(const std::string& Name, bool Decode = true) {
    OvFILE* f = Pack.OvfopenComp(Name, Decode);
    if (!f) return "<null>";
    std::string bytes(static_cast<std::size_t>(Decode ? Pack.Ovfsize(f) : Pack.Ovdsize(f)), '\0');
    const unsigned got = Pack.Ovfread(bytes.data(), 1, static_cast<unsigned>(bytes.size()), f);
    bytes.resize(got);
    Pack.Ovfclose(f);
    return bytes;
  }
  bool ShownDamage() const {
    return Boxes.Boxes().size() == 1 && Boxes.Boxes()[0].Text == Sjis("Packﾌｧｲﾙが壊れています。") &&
           Boxes.Boxes()[0].Caption == Sjis("CRCｴﾗｰ") &&
           Boxes.Boxes()[0].Flags == (MB_OK | MB_ICONSTOP);
  }

  ScratchDir Dir;
  TOvPack Pack;
  test::MessageBoxRecorder Boxes;
};

const std::string kText = TextBytes(30000);

std::vector<HandMember> TwoMembers() {
  HandMember plain{"plain", "txt", "plain member bytes"};
  HandMember packed{"packed", "bin", CorvelStream(kText)};
  packed.Size = static_cast<std::int32_t>(kText.size());
  packed.Comp = true;
  return {plain, packed};
}

TEST_F(PackRead, VersionOneIsReadAsUncompressedMembersWithTheOldTimeStamp) {
  ASSERT_TRUE(Load(HandPack(kPackVersion1, {{"alpha", "txt", "first"}, {"beta", "", "second!"}})));
  EXPECT_TRUE(Boxes.Boxes().empty());
  ASSERT_EQ(Pack.GetFileNum(), 2);
  EXPECT_EQ(Pack.GetFileName(0), "alpha.txt");
  EXPECT_EQ(Pack.GetFileName(1), "beta");
  EXPECT_EQ(Pack.GetFileSize(1), 7);
  EXPECT_FALSE(Pack.GetFileIsComp(0));
  FILETIME t;
  ASSERT_TRUE(Pack.GetFileTime(0, t));
  EXPECT_EQ(t.dwLowDateTime, 0xA8EE9800u);
  EXPECT_EQ(t.dwHighDateTime, 0x01B41DDEu);
  OvFILE* f = Pack.Ovfopen("ALPHA.TXT");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Pack.Ovdsize(f), 5);
  EXPECT_FALSE(Pack.OvIsCrc(f));
  EXPECT_EQ(Pack.OvGetCrc(f), 0);
  Pack.Ovfclose(f);
  EXPECT_EQ(ReadMember("beta"), "second!");
}

TEST_F(PackRead, VersionOnePackChangedIsWrittenBackAsVersionThree) {
  WriteAll(Dir.File("old.pak"),
           HandPack(kPackVersion1, {{"alpha", "txt", "first"}, {"beta", "", "second!"}}));
  Pack.SetReadOnly(false);
  ASSERT_TRUE(Pack.LoadPack(Dir.File("old.pak")));
  ASSERT_TRUE(Pack.DelFile("alpha.txt"));
  ASSERT_TRUE(Pack.EndPack());

  const std::string file = ReadAll(Dir.File("old.pak"));
  EXPECT_EQ(GetLE(file, 6, 2), kPackVersion3);
  const std::size_t end = 16 + 32 + 2 * 48;
  ASSERT_GE(file.size(), end + 2);
  EXPECT_EQ(GetLE(file, end, 2), Crc(file.substr(0, end)));
  TOvPack reader;  // cmPackAll
  ASSERT_TRUE(reader.LoadPack(Dir.File("old.pak")));
  EXPECT_EQ(reader.GetFileName(0), "");
  EXPECT_EQ(reader.GetFileEntry(1)->CrcFlag, 0);  // converted entries carry no check word
  OvFILE* f = reader.Ovfopen("beta");
  ASSERT_NE(f, nullptr);
  char bytes[7];
  EXPECT_EQ(reader.Ovfread(bytes, 7, 1, f), 1u);
  EXPECT_EQ(std::string(bytes, 7), "second!");
  reader.Ovfclose(f);
}

TEST_F(PackRead, VersionTwoKeepsCompressionAndIgnoresItsLastThreeBytes) {
  ASSERT_TRUE(Load(HandPack(kPackVersion2, TwoMembers())));
  ASSERT_EQ(Pack.GetFileNum(), 2);
  EXPECT_FALSE(Pack.GetFileIsComp(0));
  EXPECT_TRUE(Pack.GetFileIsComp(1));
  EXPECT_EQ(Pack.GetFileSize(1), static_cast<std::int32_t>(kText.size()));
  EXPECT_EQ(Pack.GetFileEntry(1)->Crc, 0);
  EXPECT_EQ(ReadMember("plain.txt"), "plain member bytes");
  EXPECT_EQ(ReadMember("packed.bin"), kText);
  // Version 2 packs are not checked whatever the mode, so damage goes unnoticed by design.
  std::string damaged = HandPack(kPackVersion2, TwoMembers());
  damaged[16] ^= 1;
  EXPECT_TRUE(Load(damaged, cmEachFile));
  EXPECT_EQ(ReadMember("plain.txt"), "qlain member bytes");
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(PackRead, UnknownVersionsAndShortFilesDoNotLoadSilently) {
  std::string future = HandPack(kPackVersion3, TwoMembers());
  future[7] = 0x04;
  EXPECT_FALSE(Load(future));
  EXPECT_FALSE(Load(std::string("OvPack\x00\x03\0\0", 10)));
  EXPECT_FALSE(Load(""));
  EXPECT_FALSE(Pack.LoadPack(Dir.File("missing.pak")));
  EXPECT_FALSE(Pack.PackOpen());
  EXPECT_TRUE(Boxes.Boxes().empty());
  // The magic itself is not examined.
  std::string other = HandPack(kPackVersion3, TwoMembers(), -1, -1);
  other[0] = 'X';
  EXPECT_TRUE(Load(other, cmNon));
}

TEST_F(PackRead, AChangedByteUnderEachCheckMode) {
  std::string damaged = HandPack(kPackVersion3, TwoMembers());
  damaged[20] ^= 0x40;  // inside the plain member's bytes

  EXPECT_FALSE(Load(damaged, cmPackAll));
  EXPECT_TRUE(ShownDamage());
  EXPECT_FALSE(Pack.PackOpen());

  Boxes.Clear();
  ASSERT_TRUE(Load(damaged, cmNon));
  EXPECT_EQ(ReadMember("plain.txt"),
            std::string("plai") + static_cast<char>('n' ^ 0x40) + " member bytes");
  EXPECT_TRUE(Boxes.Boxes().empty());

  ASSERT_TRUE(Load(damaged, cmEachFile));
  EXPECT_TRUE(Boxes.Boxes().empty());
  EXPECT_EQ(Pack.Ovfopen("plain.txt"), nullptr);
  EXPECT_TRUE(ShownDamage());
  Boxes.Clear();
  EXPECT_EQ(ReadMember("packed.bin"), kText);  // the other member still opens
  EXPECT_TRUE(Boxes.Boxes().empty());
  EXPECT_TRUE(Pack.PackOpen());

  // Damage to the whole-pack word alone, or a pack cut short by it.
  std::string word = HandPack(kPackVersion3, TwoMembers());
  word.back() ^= 1;
  Boxes.Clear();
  EXPECT_FALSE(Load(word, cmPackAll));
  EXPECT_TRUE(ShownDamage());
  word.pop_back();
  word.pop_back();
  Boxes.Clear();
  EXPECT_FALSE(Load(word, cmPackAll));
  EXPECT_TRUE(ShownDamage());
  EXPECT_TRUE(Load(word, cmNon));
}

TEST_F(PackRead, ReadsAreWholeItemsClampedToTheMember) {
  HandMember nine{"nine", "", "123456789"};
  HandMember packed{"ninec", "", CorvelStream("123456789")};
  packed.Size = 9;
  packed.Comp = true;
  ASSERT_TRUE(Load(HandPack(kPackVersion3, {nine, packed})));
  for (const char* name : {"nine", "ninec"}) {
    SCOPED_TRACE(name);
    OvFILE* f = Pack.Ovfopen(name);
    ASSERT_NE(f, nullptr);
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Pack.Ovfread(buffer, 4, 10, f), 2u);
    EXPECT_EQ(std::string(buffer, 9), "12345678#");
    EXPECT_EQ(Pack.Ovfread(buffer, 4, 10, f), 0u);
    // Near the end a one-item read of more than what is left reads nothing.
    EXPECT_EQ(Pack.Ovfread(buffer, 2, 1, f), 0u);
    EXPECT_EQ(Pack.Ovfread(buffer, 1, 1, f), 1u);
    EXPECT_EQ(buffer[0], '9');
    EXPECT_EQ(Pack.Ovfread(buffer, 0, 5, f), 0u);
    // Item counts whose byte product passes 32 bits are clamped, not wrapped.
    Pack.Ovfseek(f, 0, 0);
    EXPECT_EQ(Pack.Ovfread(buffer, 0x10000, 0x10001, f), 0u);
    EXPECT_EQ(Pack.Ovfread(buffer, 3, 0x55555556u, f), 3u);
    Pack.Ovfclose(f);
  }
}

TEST_F(PackRead, SeeksAndPositionsStayInsideTheMember) {
  ASSERT_TRUE(Load(HandPack(kPackVersion3, {{"ten", "", "0123456789"}})));
  OvFILE* f = Pack.Ovfopen("ten");
  ASSERT_NE(f, nullptr);
  std::int32_t at = -1;
  ASSERT_TRUE(Pack.Ovfgetpos(f, &at));
  EXPECT_EQ(at, 0);
  const struct {
    std::int32_t Offset, Origin, Expected;
  } cases[] = {
      {-1, 2, 9},   {5, 2, 10},          {-3, 0, 0}, {4, 0, 4}, {3, 1, 7},
      {-100, 1, 0}, {0x7FFFFFFF, 1, 10}, {2, 7, 10}};  // an unknown origin leaves the position
  for (const auto& c : cases) {
    EXPECT_TRUE(Pack.Ovfseek(f, c.Offset, c.Origin));
    Pack.Ovfgetpos(f, &at);
    EXPECT_EQ(at, c.Expected) << c.Offset << " from " << c.Origin;
  }
  std::int32_t wanted = 12;
  EXPECT_TRUE(Pack.Ovfsetpos(f, &wanted));
  Pack.Ovfgetpos(f, &at);
  EXPECT_EQ(at, 10);
  wanted = 6;
  Pack.Ovfsetpos(f, &wanted);
  char c;
  EXPECT_EQ(Pack.Ovfread(&c, 1, 1, f), 1u);
  EXPECT_EQ(c, '6');
  EXPECT_FALSE(Pack.Ovfseek(nullptr, 0, 0));
  EXPECT_FALSE(Pack.Ovfclose(nullptr));
  Pack.Ovfclose(f);
}

TEST_F(PackRead, CompressedMemberReadRawGivesTheStoredStream) {
  const std::vector<HandMember> members = TwoMembers();
  ASSERT_TRUE(Load(HandPack(kPackVersion3, members)));
  OvFILE* f = Pack.OvfopenComp("packed.bin", false);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(Pack.OvIsComp(f));
  EXPECT_EQ(Pack.Ovfsize(f), static_cast<std::int32_t>(kText.size()));
  EXPECT_EQ(Pack.Ovdsize(f), static_cast<std::int32_t>(members[1].Stored.size()));
  EXPECT_TRUE(Pack.OvIsCrc(f));
  EXPECT_EQ(Pack.OvGetCrc(f), Crc(members[1].Stored));
  FILETIME t;
  ASSERT_TRUE(Pack.OvGetFileTime(f, t));
  EXPECT_EQ(FileTimeTicks(t), members[1].Time);
  // The readable length is the stored size.
  Pack.Ovfseek(f, 0, 2);
  std::int32_t end = 0;
  Pack.Ovfgetpos(f, &end);
  EXPECT_EQ(end, Pack.Ovdsize(f));
  Pack.Ovfclose(f);
  EXPECT_EQ(ReadMember("packed.bin", false), members[1].Stored);
}

// OvfreadAll gives the whole member from any handle and checks its stored bytes on the way, under
// any check mode: a changed byte is a check word mismatch even where the stream breaks off before
// it, a stream with bytes to spare is damage, and a sink that refuses stops the read.
TEST_F(PackRead, OvfreadAllStreamsWholeMembersAndChecksThem) {
  std::vector<HandMember> members = TwoMembers();
  const std::string big = TextBytes(300000);
  members.push_back({"big", "txt", CorvelStream(big), static_cast<std::int32_t>(big.size()), true});
  members.push_back({"spare", "bin", CorvelStream(big.substr(0, 999)) + "xx", 999, true});
  ASSERT_TRUE(Load(HandPack(kPackVersion3, members), cmNon));
  std::string got;
  std::int32_t largest = 0;
  const TMemberSink collect = [&](const Byte* Data, std::int32_t Count) {
    got.append(reinterpret_cast<const char*>(Data), static_cast<std::size_t>(Count));
    largest = std::max(largest, Count);
    return true;
  };
  const std::pair<const char*, std::string> whole[] = {
      {"plain.txt", "plain member bytes"}, {"packed.bin", kText}, {"big.txt", big}};
  for (const auto& [name, expected] : whole) {
    for (const bool decode : {false, true}) {
      SCOPED_TRACE(std::string(name) + (decode ? " decoded" : " raw"));
      OvFILE* f = Pack.OvfopenComp(name, decode);
      ASSERT_NE(f, nullptr);
      Pack.Ovfseek(f, 3, 0);
      got.clear();
      EXPECT_TRUE(Pack.OvfreadAll(f, collect));
      EXPECT_TRUE(got == expected);
      std::int32_t position = 0;
      Pack.Ovfgetpos(f, &position);
      EXPECT_EQ(position, 3);
      Pack.Ovfclose(f);
    }
  }
  EXPECT_LE(largest, 32768);

  OvFILE* spare = Pack.OvfopenComp("spare.bin", false);
  EXPECT_FALSE(Pack.OvfreadAll(spare, collect));
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::DamagedMember);
  Pack.Ovfclose(spare);
  OvFILE* f = Pack.OvfopenComp("big.txt", false);
  int calls = 0;
  EXPECT_FALSE(Pack.OvfreadAll(f, [&](const Byte*, std::int32_t) { return ++calls > 1; }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::WriteFailed);
  Pack.Ovfclose(f);

  // The first item of big's stream made a match: nothing before it to copy from.
  std::string changed = HandPack(kPackVersion3, members);
  changed[changed.find(members[2].Stored) + 3] |= static_cast<char>(0x80);
  ASSERT_TRUE(Load(changed, cmNon));
  f = Pack.OvfopenComp("big.txt", false);
  EXPECT_FALSE(Pack.OvfreadAll(f, collect));
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::CheckWordMismatch);
  Pack.Ovfclose(f);
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(PackRead, TwoHandlesReadAlternatelyFromOneStream) {
  const std::string a = RandomBytes(70000, 5);
  const std::string b = RandomBytes(50000, 6);
  ASSERT_TRUE(Load(HandPack(kPackVersion3, {{"a", "", a}, {"b", "", b}})));
  OvFILE* fa = Pack.Ovfopen("a");
  OvFILE* fb = Pack.Ovfopen("b");
  ASSERT_TRUE(fa && fb);
  std::string ra, rb;
  char block[1000];
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(Pack.Ovfread(block, 1000, 1, fa), 1u);
    ra.append(block, 1000);
    ASSERT_EQ(Pack.Ovfread(block, 1000, 1, fb), 1u);
    rb.append(block, 1000);
  }
  EXPECT_EQ(ra, a.substr(0, 50000));
  EXPECT_EQ(rb, b);
  Pack.Ovfclose(fa);
  Pack.Ovfclose(fb);
}

TEST_F(PackRead, PackNameMemberStreamsAndClosing) {
  WriteAll(Dir.File("t.pak"), HandPack(kPackVersion3, TwoMembers()));
  ASSERT_TRUE(Pack.OpenPack(Dir.File("t.pak")));
  EXPECT_EQ(Pack.PackName(), Dir.File("t.pak"));

  std::unique_ptr<TMemoryStream> s = Pack.OvMakeStream("packed.bin");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Position(), 0);
  ASSERT_EQ(s->Size(), static_cast<std::int64_t>(kText.size()));
  EXPECT_EQ(std::string(static_cast<char*>(s->Memory()), kText.size()), kText);
  EXPECT_FALSE(Pack.OvMakeStream("absent"));

  ASSERT_TRUE(Pack.OpenFile("plain.txt"));
  EXPECT_EQ(Pack.FileName(), "plain.txt");
  ASSERT_NE(Pack.MemberStream(), nullptr);
  EXPECT_EQ(Pack.MemberStream()->Size(), 18);
  EXPECT_FALSE(Pack.OpenFile("absent"));
  EXPECT_EQ(Pack.FileName(), "");
  EXPECT_EQ(Pack.MemberStream(), nullptr);
  ASSERT_TRUE(Pack.OpenFile("plain.txt"));
  EXPECT_TRUE(Pack.OpenFile(""));
  EXPECT_EQ(Pack.MemberStream(), nullptr);
  ASSERT_TRUE(Pack.OpenFile("plain.txt"));
  Pack.CloseFile();
  EXPECT_EQ(Pack.MemberStream(), nullptr);

  // Closing releases the member stream and empties the queries.
  ASSERT_TRUE(Pack.OpenFile("plain.txt"));
  EXPECT_TRUE(Pack.OpenPack(""));
  EXPECT_FALSE(Pack.PackOpen());
  EXPECT_EQ(Pack.MemberStream(), nullptr);
  EXPECT_EQ(Pack.GetFileNum(), 0);
  EXPECT_EQ(Pack.Ovfopen("plain.txt"), nullptr);
  EXPECT_EQ(Pack.PackName(), "");
}

TEST_F(PackRead, PackInACallersStream) {
  const std::string bytes = HandPack(kPackVersion3, TwoMembers());
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  Pack.SetReadOnly(false);
  EXPECT_FALSE(Pack.LoadPackStream(&stream));  // only read-only
  Pack.SetReadOnly(true);
  EXPECT_FALSE(Pack.LoadPackStream(nullptr));
  ASSERT_TRUE(Pack.LoadPackStream(&stream));
  EXPECT_EQ(Pack.PackName(), "");
  EXPECT_EQ(ReadMember("packed.bin"), kText);
  EXPECT_TRUE(Pack.EndPack());
  // The stream is the caller's: still there, unchanged.
  EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(std::string(static_cast<char*>(stream.Memory()), bytes.size()), bytes);

  // A damaged pack in a stream is refused and the stream forgotten, not released.
  static_cast<char*>(stream.Memory())[17] ^= 1;
  EXPECT_FALSE(Pack.LoadPackStream(&stream));
  EXPECT_TRUE(ShownDamage());
  EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(bytes.size()));
}

TEST_F(PackRead, DirectoryQueriesOnBadIndexesAndNamesWithoutExtension) {
  ASSERT_TRUE(Load(HandPack(kPackVersion3, {{"abc", "", "x"}})));
  char buffer[kPackNameBufferBytes];
  ASSERT_TRUE(Pack.GetFileName(0, buffer));
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(Pack.CheckFileName("abc."), -1);  // the name as given: "abc." is not "abc"
  for (int bad : {-1, 1, 1000}) {
    EXPECT_FALSE(Pack.GetFileName(bad, buffer));
    EXPECT_EQ(Pack.GetFileSize(bad), 0);
    EXPECT_FALSE(Pack.GetFileIsComp(bad));
    FILETIME t;
    EXPECT_FALSE(Pack.GetFileTime(bad, t));
  }
  // A full 21-byte base name with a 3-byte extension fills the 26-byte buffer exactly.
  ASSERT_TRUE(Load(HandPack(kPackVersion3, {{std::string(21, 'n'), "ext", "y"}})));
  ASSERT_TRUE(Pack.GetFileName(0, buffer));
  EXPECT_EQ(std::string(buffer), std::string(21, 'n') + ".ext");
  EXPECT_EQ(Pack.CheckFileName(std::string(21, 'N') + ".EXT"), 0);
  EXPECT_EQ(Pack.CheckFileName(std::string(22, 'n') + ".ext"), -1);  // 26 bytes
}

}  // namespace
}  // namespace ovelta
