#include "sim/server/PackageBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "SimServerSupport.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"
#include "sim/server/Catalogue.h"

namespace brintel::sim {
namespace {

using test::DisplayProgram;
using test::kDeviceId;

// The whole chain the tool and the display apply, for every program and for
// ids whose digit pairs differ in every key position.
TEST(PackageBuilder, DisplayRecoversEveryProgramFromItsPackage) {
  const Catalogue catalogue = Catalogue::Default();
  for (const std::string& id : {kDeviceId, std::string("FFA5C35A3C0F1E00")}) {
    const std::string key = catalogue.ListKeyFor(id);
    for (const Program& program : catalogue.Programs()) {
      SCOPED_TRACE(program.name);
      const std::string text = BuildPackage(id, key, program);
      ASSERT_EQ(text.substr(0, 16), id);
      const PackageHeader header = ReadPackageHeader(text);
      EXPECT_EQ(header.title, program.title);
      EXPECT_EQ(header.leftPicture, std::stoi(program.pictures.substr(0, 3)));
      EXPECT_EQ(header.rightPicture, std::stoi(program.pictures.substr(3)));
      EXPECT_TRUE(HoldsValidPayload(text));
      EXPECT_EQ(DisplayProgram(text, id, key), program.data);
    }
  }
  // No key byte to cycle through.
  EXPECT_THROW(BuildPackage(kDeviceId, "", catalogue.Programs()[0]), std::invalid_argument);
}

TEST(Catalogue, ListKeysAreUsableAndDifferPerDisplay) {
  const Catalogue catalogue = Catalogue::Default();
  const std::string key = catalogue.ListKeyFor(kDeviceId);
  EXPECT_TRUE(IsUsableListKey(key));
  EXPECT_EQ(key.find('_'), std::string::npos);
  for (const char c : key) {
    EXPECT_LT(static_cast<unsigned char>(c), 0x80) << key;
  }
  EXPECT_NE(key, catalogue.ListKeyFor("1027262514131212"));
  EXPECT_NE(key, catalogue.ListKeyFor("0027262514131211"));
  EXPECT_EQ(catalogue.ListKeyFor("00ABCDEF00ABCDEF"), catalogue.ListKeyFor("00abcdef00abcdef"));
}

TEST(Catalogue, RefusesProgramsTheProtocolCannotCarry) {
  const auto program = [](std::string name, std::string title, std::string pictures,
                          std::size_t size) {
    return Program{std::move(name), std::move(title), std::move(pictures),
                   std::vector<std::uint8_t>(size), ""};
  };
  // A 0x5F trail byte (達 is DF 5F) is part of a character, not a separator.
  EXPECT_NO_THROW(Catalogue({program("\xDF\x5F", "\xDF\x5F", "139140", PROGRAM_SIZE)}));

  EXPECT_THROW(Catalogue({program("A_B", "T", "139140", PROGRAM_SIZE)}), std::invalid_argument);
  EXPECT_THROW(Catalogue({program("", "T", "139140", PROGRAM_SIZE)}), std::invalid_argument);
  EXPECT_THROW(Catalogue({program("A", "T_", "139140", PROGRAM_SIZE)}), std::invalid_argument);
  // A trailing lead byte would take the following "_" as its second byte.
  EXPECT_THROW(Catalogue({program("A\xB3", "T", "139140", PROGRAM_SIZE)}), std::invalid_argument);
  EXPECT_THROW(Catalogue({program("A", "T\xB3", "139140", PROGRAM_SIZE)}), std::invalid_argument);
  EXPECT_THROW(Catalogue({program("A", "T", "13914", PROGRAM_SIZE)}), std::invalid_argument);
  EXPECT_THROW(Catalogue({program("A", "T", "13914x", PROGRAM_SIZE)}), std::invalid_argument);
  EXPECT_THROW(Catalogue({program("A", "T", "139140", PROGRAM_SIZE - 1)}), std::invalid_argument);
  EXPECT_THROW(Catalogue({program("A", "T", "139140", PROGRAM_SIZE),
                          program("A", "U", "139140", PROGRAM_SIZE)}),
               std::invalid_argument);
}

}  // namespace
}  // namespace brintel::sim
