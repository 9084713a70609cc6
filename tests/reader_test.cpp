#include <gtest/gtest.h>

#include "loc/reader.hpp"
#include "locbuild/loc_builder.hpp"
#include "support/files.hpp"

using locbuild::Bytes;

namespace {

struct MemoryInput {
  explicit MemoryInput(Bytes data) : bytes(std::move(data)) {
    OpenInputFromMemory(input, bytes.data(), bytes.size());
  }
  Bytes bytes;
  LocInput input;
};

TEST(ReadInt32, IsBigEndianTwosComplement) {
  MemoryInput m(Bytes("\x00\x00\x00\x02\xFF\xFF\xFF\xFF\x80\x00\x00\x00\x12\x34\x56\x78", 16));
  EXPECT_EQ(ReadInt32(m.input), 2);
  EXPECT_EQ(ReadInt32(m.input), -1);
  EXPECT_EQ(ReadInt32(m.input), INT32_MIN);
  EXPECT_EQ(ReadInt32(m.input), 0x12345678);
  EXPECT_FALSE(m.input.failed);
}

TEST(ReadCountedString, ZeroAndNegativeLengthsConsumeOnlyThePrefix) {
  for (std::uint16_t prefix : {0x0000, 0x8000, 0xFFFF}) {
    Bytes data;
    locbuild::PutLength(data, prefix);
    locbuild::PutCountedString(data, "next");
    MemoryInput m(data);
    EXPECT_EQ(ReadCountedString(m.input), "");
    EXPECT_EQ(Offset(m.input), 2u);
    EXPECT_EQ(ReadCountedString(m.input), "next");
  }
}

TEST(ReadCountedString, KeepsEveryByteUpToTheLongestLength) {
  std::string odd("\0\n\r\x80\xFF", 5);
  std::string longest(32767, 'x');
  Bytes data;
  locbuild::PutCountedString(data, odd);
  locbuild::PutCountedString(data, longest);
  MemoryInput m(data);
  EXPECT_EQ(ReadCountedString(m.input), odd);
  EXPECT_EQ(ReadCountedString(m.input), longest);
  EXPECT_EQ(Offset(m.input), data.size());
  EXPECT_FALSE(m.input.failed);
}

TEST(ShortInput, FailsOnceAndThenReadsNothing) {
  Bytes data;
  locbuild::PutLength(data, 10);
  data += "abc";
  MemoryInput m(data);
  EXPECT_EQ(ReadCountedString(m.input), "");
  EXPECT_TRUE(m.input.failed);
  EXPECT_EQ(m.input.failOffset, 5u);
  EXPECT_TRUE(m.input.failReason.empty());
  std::uint64_t stoppedAt = Offset(m.input);
  EXPECT_EQ(ReadInt32(m.input), 0);
  EXPECT_EQ(ReadCountedString(m.input), "");
  SkipBytes(m.input, 1);
  EXPECT_EQ(Offset(m.input), stoppedAt);
}

TEST(Walk, DirectoryGrowsOnlyWithNamesThatArrive) {
  Bytes data;
  locbuild::PutCountedString(data, "en");
  locbuild::PutInt32(data, 0);
  locbuild::PutCountedString(data, "fr");
  MemoryInput m(data);
  LanguageList languages;
  ReadLanguageDirectory(m.input, 0x7FFFFFFF, languages);
  EXPECT_TRUE(m.input.failed);
  EXPECT_EQ(languages, LanguageList{"en"});
  EXPECT_LT(languages.capacity(), 16u);
}

// A file larger than the reader's buffer, so fields and strings straddle refills.
TEST(FileInput, ReadsTheSameAsMemoryAcrossRefills) {
  Bytes data;
  std::vector<std::string> strings;
  for (int i = 0; data.size() < 1'500'000; ++i) {
    strings.push_back(std::string(static_cast<std::size_t>(i * 7919 % 32768), char('a' + i % 26)));
    locbuild::PutCountedString(data, strings.back());
    locbuild::PutInt32(data, i);
  }
  TempFolder folder("reader");
  fs::path path = folder.path / "big.loc";
  WriteBytes(path, data);
  LocInput input;
  OpenInput(input, path.string().c_str());
  ASSERT_TRUE(IsInputOpen(input));
  for (std::size_t i = 0; i < strings.size(); ++i) {
    ASSERT_EQ(ReadCountedString(input), strings[i]) << i;
    ASSERT_EQ(ReadInt32(input), static_cast<std::int32_t>(i));
  }
  EXPECT_FALSE(input.failed);
  ReadByte(input);
  EXPECT_TRUE(input.failed);
  EXPECT_EQ(input.failOffset, data.size());
  CloseInput(input);
  EXPECT_FALSE(IsInputOpen(input));
}

TEST(FileInput, MissingFileOrFolderIsNotOpen) {
  TempFolder folder("reader");
  LocInput missing, directory;
  OpenInput(missing, (folder.path / "absent.loc").string().c_str());
  OpenInput(directory, folder.path.string().c_str());
  EXPECT_FALSE(IsInputOpen(missing));
  EXPECT_FALSE(IsInputOpen(directory));
}

}  // namespace
