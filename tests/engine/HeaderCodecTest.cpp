// The container header codec: what the writer writes the reader reads back; every length and size
// field of every generation at its boundaries; and a size the data cannot hold is refused before
// anything is written.
#include "engine/BatchRun.h"
#include "engine/Container.h"
#include "engine/EngineFixture.h"
#include "engine/Independent.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <climits>

namespace qk::test {
namespace {

using engine::ContainerHeader;
using engine::Generation;
using engine::HeaderStatus;
using engine::Outcome;

std::vector<std::uint8_t> Bytes(const std::string& s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

ContainerHeader Sample(bool tamper) {
  ContainerHeader h;
  h.tamperFlag = tamper ? 1 : 0;
  for (std::size_t i = 0; i < h.tamperCode.size(); ++i)
    h.tamperCode[i] = static_cast<std::uint8_t>(i);
  h.algorithm = 2;
  h.passwordCheck = {1, 2, 3, 4, 5, 6, 7, 8};
  h.hintText = "aGludA==";
  h.nameText = "YS50eHQ=";
  h.fileDate = 0x12345678;
  h.sourceSize = 10;
  return h;
}

// A header of generation g with the given fields: V5 as written, V4 and V3 as their layouts.
std::string Encode(const ContainerHeader& h, Generation g) {
  const auto v5 = engine::WriteHeader(h);
  std::string bytes(v5.begin(), v5.end());
  if (g == Generation::V5) return bytes;
  const std::size_t fieldsAt = 21 + (h.tamperFlag ? 32 : 0);
  std::string rest = bytes.substr(fieldsAt);
  if (g == Generation::V3) rest.resize(rest.size() - 8);
  return std::string(g == Generation::V4 ? "ENCRYPTED BY V4.X QK" : "ENCRYPTED BY V3.X QK") + rest;
}

void PutAt(std::string& bytes, std::size_t at, std::int64_t value, int width) {
  if (width == 4) {
    engine::PutInt32(reinterpret_cast<std::uint8_t*>(bytes.data() + at),
                     static_cast<std::int32_t>(value));
  } else {
    engine::PutInt64(reinterpret_cast<std::uint8_t*>(bytes.data() + at), value);
  }
}

TEST(HeaderCodec, WhatIsWrittenReadsBackInEveryGeneration) {
  for (const bool tamper : {false, true}) {
    for (const Generation g : {Generation::V5, Generation::V4, Generation::V3}) {
      if (g != Generation::V5 && tamper) continue;
      ContainerHeader h = Sample(tamper);
      h.generation = g;
      const std::string bytes = Encode(h, g);
      const auto read = engine::ReadHeader(Bytes(bytes + "data after the header"));
      ASSERT_EQ(read.status, HeaderStatus::Ok);
      EXPECT_EQ(read.header.generation, g);
      EXPECT_EQ(read.header.Size(), bytes.size());
      EXPECT_EQ(read.header.HasTamperCode(), tamper);
      if (tamper) {
        EXPECT_EQ(read.header.tamperCode, h.tamperCode);
      }
      EXPECT_EQ(read.header.algorithm, 2);
      EXPECT_EQ(read.header.passwordCheck, h.passwordCheck);
      EXPECT_EQ(read.header.hintText, h.hintText);
      EXPECT_EQ(read.header.nameText, h.nameText);
      EXPECT_EQ(read.header.fileDate, 0x12345678);
      if (g != Generation::V3) {
        EXPECT_EQ(read.header.sourceSize, 10);
      }
      if (g == Generation::V5) {
        EXPECT_EQ(engine::WriteHeader(read.header), Bytes(bytes));
      }
    }
  }
}

// The writer never writes a text that no reader accepts, hint or name.
TEST(HeaderCodec, WriterRefusesTextsLongerThanReadersAccept) {
  for (std::string ContainerHeader::*text :
       {&ContainerHeader::hintText, &ContainerHeader::nameText}) {
    for (const std::size_t length : {std::size_t{1000}, std::size_t{1001}, std::size_t{4096}}) {
      SCOPED_TRACE(testing::Message()
                   << (text == &ContainerHeader::hintText ? "hint " : "name ") << length);
      ContainerHeader h = Sample(false);
      (h.*text).assign(length, 'A');
      if (length <= 1000) {
        // Marker and flag, cipher and check, the two texts with their lengths, date and size.
        EXPECT_EQ(engine::WriteHeader(h).size(),
                  21 + 12 + 4 + h.hintText.size() + 4 + h.nameText.size() + 12);
      } else {
        EXPECT_THROW(engine::WriteHeader(h), std::length_error);
      }
    }
  }
}

TEST(HeaderCodec, EveryLengthAndSizeFieldAtItsBoundaries) {
  const std::vector<std::int64_t> lengths{0,  1,     999,       1000,      1001,
                                          -1, -1000, INT32_MAX, INT32_MIN, 0x10000};
  for (const bool tamper : {false, true}) {
    for (const Generation g : {Generation::V5, Generation::V4, Generation::V3}) {
      if (g != Generation::V5 && tamper) continue;
      SCOPED_TRACE(testing::Message()
                   << "generation " << static_cast<int>(g) << " code " << tamper);
      ContainerHeader h = Sample(tamper);
      const std::string good = Encode(h, g);
      const std::size_t hintAt = (g == Generation::V5 ? 21 + (tamper ? 32 : 0) : 20) + 12;
      const std::size_t nameAt = hintAt + 4 + h.hintText.size();
      const std::size_t sizeAt = nameAt + 4 + h.nameText.size() + 4;
      // The texts padded so that any valid length finds its bytes.
      const std::string padding(1100, 'x');
      for (const std::int64_t n : lengths) {
        std::string bytes = good;
        PutAt(bytes, hintAt, n, 4);
        const auto read = engine::ReadHeader(Bytes(bytes + padding));
        if (n >= 0 && n <= 1000) {
          EXPECT_TRUE(read.status == HeaderStatus::Ok ||
                      read.status == HeaderStatus::NameLengthOutOfRange ||
                      read.status == HeaderStatus::NegativeSourceSize)
              << n;
          EXPECT_TRUE(read.hintRead);
          EXPECT_EQ(read.header.hintText.size(), static_cast<std::size_t>(n));
        } else {
          EXPECT_EQ(read.status, HeaderStatus::HintLengthOutOfRange) << n;
          EXPECT_FALSE(read.hintRead);
        }
        bytes = good;
        PutAt(bytes, nameAt, n, 4);
        const auto name = engine::ReadHeader(Bytes(bytes + padding));
        if (n >= 0 && n <= 1000) {
          EXPECT_NE(name.status, HeaderStatus::NameLengthOutOfRange) << n;
          EXPECT_EQ(name.header.nameText.size(), static_cast<std::size_t>(n));
        } else {
          EXPECT_EQ(name.status, HeaderStatus::NameLengthOutOfRange) << n;
        }
      }
      if (g == Generation::V3) continue;
      for (const std::int64_t size : {std::int64_t{0}, std::int64_t{1}, std::int64_t{15},
                                      std::int64_t{16}, INT64_MAX - 15, INT64_MAX}) {
        std::string bytes = good;
        PutAt(bytes, sizeAt, size, 8);
        const auto read = engine::ReadHeader(Bytes(bytes));
        EXPECT_EQ(read.status, HeaderStatus::Ok) << size;
        EXPECT_EQ(read.header.sourceSize, size);
      }
      for (const std::int64_t size : {std::int64_t{-1}, std::int64_t{-16}, INT64_MIN}) {
        std::string bytes = good;
        PutAt(bytes, sizeAt, size, 8);
        EXPECT_EQ(engine::ReadHeader(Bytes(bytes)).status, HeaderStatus::NegativeSourceSize)
            << size;
      }
    }
  }
}

TEST(HeaderCodec, CutShortAnywhereSaysHowMuchMoreItNeeds) {
  const std::string good = Encode(Sample(true), Generation::V5);
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    const auto read = engine::ReadHeader(Bytes(good.substr(0, cut)));
    ASSERT_TRUE(read.status == HeaderStatus::CutInFixedPart ||
                read.status == HeaderStatus::CutInTexts)
        << cut;
    EXPECT_EQ(read.status == HeaderStatus::CutInFixedPart, cut < 21 + 32 + 12) << cut;
    EXPECT_GT(read.needed, cut);
    EXPECT_LE(read.needed, good.size());
  }
  EXPECT_EQ(engine::ReadHeader(Bytes("ENCRYPTED BY QK")).status, HeaderStatus::OldFormat);
  EXPECT_EQ(engine::ReadHeader(Bytes("xxxxxENCRYPTED BY QK")).status, HeaderStatus::OldFormat);
  EXPECT_EQ(engine::ReadHeader(Bytes("ENCRYPTED BY V2.X QK")).status, HeaderStatus::OldFormat);
  EXPECT_EQ(engine::ReadHeader(Bytes("ENCRYPTED BY V6.X QK and more")).status,
            HeaderStatus::UnknownFormat);
  EXPECT_EQ(engine::ReadHeader(Bytes(std::string("ENC\0RYPTED BY V5.X QK", 20))).status,
            HeaderStatus::UnknownFormat);
}

TEST(HeaderCodec, DataHoldsSourceSizeNeverOverflows) {
  using engine::DataHoldsSourceSize;
  EXPECT_TRUE(DataHoldsSourceSize(0, 0));
  EXPECT_FALSE(DataHoldsSourceSize(1, 0));
  EXPECT_TRUE(DataHoldsSourceSize(1, 16));
  EXPECT_FALSE(DataHoldsSourceSize(1, 15));
  EXPECT_TRUE(DataHoldsSourceSize(16, 16));
  EXPECT_FALSE(DataHoldsSourceSize(17, 16));
  EXPECT_TRUE(DataHoldsSourceSize(17, 32));
  EXPECT_TRUE(DataHoldsSourceSize(10, 1000)); // data longer than its size: tolerated
  EXPECT_FALSE(DataHoldsSourceSize(INT64_MAX, INT64_MAX));
  EXPECT_TRUE(DataHoldsSourceSize(INT64_MAX - 15, INT64_MAX));
  EXPECT_FALSE(DataHoldsSourceSize(INT64_MAX - 14, INT64_MAX));
  EXPECT_FALSE(DataHoldsSourceSize(INT64_MAX, 16));
  EXPECT_FALSE(DataHoldsSourceSize(-1, 16));
  EXPECT_FALSE(DataHoldsSourceSize(INT64_MIN, INT64_MAX));
  EXPECT_FALSE(DataHoldsSourceSize(0, -1));
}

class SizeFieldTest : public EngineTest {};

TEST_F(SizeFieldTest, SizesTheDataCannotHoldAreRefusedBeforeAnythingIsWritten) {
  const std::string bytes = RandomBytes(40, 2); // 48 bytes of data
  for (const bool tamper : {false, true}) {
    for (const Generation g : {Generation::V5, Generation::V4}) {
      if (g != Generation::V5 && tamper) continue;
      const std::string source = Plain("a.txt", bytes);
      const std::string container = Encrypt(source, "pw", "", 0, tamper);
      platform::DeleteFile(source);
      std::string c = ReadAll(container);
      if (g == Generation::V4) c = "ENCRYPTED BY V4.X QK" + c.substr(21);
      const std::size_t sizeAt = c.size() - 48 - 8;
      for (const std::int64_t size :
           {std::int64_t{0}, std::int64_t{1}, std::int64_t{40}, std::int64_t{48}, std::int64_t{49},
            std::int64_t{64}, INT64_MAX - 15, INT64_MAX - 1, INT64_MAX, std::int64_t{-1},
            INT64_MIN}) {
        SCOPED_TRACE(testing::Message() << "size " << size << " code " << tamper);
        std::string crafted = c;
        PutAt(crafted, sizeAt, size, 8);
        if (tamper) Reseal(crafted, "pw");
        WriteAll(container, crafted);
        const auto before = Listing();
        Outcome outcome;
        std::vector<std::string> writes;
        {
          WriteRecorder recorder;
          outcome = engine.DecryptFile(container, "pw").outcome;
          writes = recorder.Writes();
        }
        if (size >= 0 && size <= 48) {
          EXPECT_TRUE(engine::Succeeded(outcome));
          EXPECT_EQ(ReadAll(dir / "a.txt"),
                    (bytes + std::string(8, '\0')).substr(0, static_cast<std::size_t>(size)));
          platform::DeleteFile(dir / "a.txt");
        } else {
          EXPECT_EQ(outcome, Outcome::InvalidFile);
          EXPECT_TRUE(writes.empty()) << writes.front();
          EXPECT_EQ(Listing(), before);
        }
      }
      platform::DeleteFile(container);
    }
  }
}

// The stored file date is a number from the file too: every value decrypts, and only a date that
// is one is set on the output.
TEST_F(SizeFieldTest, FileDatesAtTheirBoundariesThroughTheRun) {
  const std::string source = Plain("a.txt", "dated");
  const std::string container = Encrypt(source, "pw", "", 0, false);
  platform::DeleteFile(source);
  std::string bytes = ReadAll(container);
  const std::size_t dateAt = bytes.size() - 16 - 8 - 4;
  const std::int32_t valid = (45 << 25) | (6 << 21) | (15 << 16) | (12 << 11) | (30 << 5) | 10;
  for (const std::int32_t date : {0, 1, -1, valid, INT32_MAX, INT32_MIN, (1 << 21) | (1 << 16),
                                  (13 << 21) | (1 << 16), (1 << 21) | (31 << 16) | (24 << 11)}) {
    SCOPED_TRACE(date);
    PutAt(bytes, dateAt, date, 4);
    WriteAll(container, bytes);
    engine::BatchOptions options;
    options.WipeDecSource = false;
    UnattendedRun unattended(engine::OperationMode::Decrypt, options);
    engine::BatchRun& run = unattended.run;
    run.AddFile(container);
    run.ShowList();
    ASSERT_EQ(run.Entries()[0].Result->outcome, Outcome::DecryptedNoTamperCode);
    EXPECT_EQ(ReadAll(dir / "a.txt"), "dated");
    if (date == valid) {
      EXPECT_EQ(platform::GetFileDate(dir / "a.txt"), valid);
    }
    platform::DeleteFile(dir / "a.txt");
  }
}

} // namespace
} // namespace qk::test
