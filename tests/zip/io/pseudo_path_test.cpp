#include "zip/io/pseudo_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "zip/error_codes.h"
#include "zip/io/archive_store.h"

namespace korbel {
namespace {

// What a parsed resource path names, in a comparable form.
std::string Describe(platform::ResourceId id) {
  if (id.text != nullptr) return std::string("text:") + id.text;
  return "number:" + std::to_string(id.number);
}

struct ResourceCase {
  std::string path;
  std::string type;  // Describe() of the type after resolving
  std::string name;  // Describe() of the name; "number:0" when not taken
};

class ResourcePathTest : public ::testing::TestWithParam<ResourceCase> {};

TEST_P(ResourcePathTest, ParsesTypeAndName) {
  const ResourceCase& c = GetParam();
  const PseudoPath parsed = ParsePseudoPath(c.path.c_str());
  ASSERT_EQ(parsed.kind, PseudoKind::kResource);
  EXPECT_EQ(Describe(ResolveResourceType(parsed.resource.Type())), c.type);
  EXPECT_EQ(Describe(parsed.resource.Name()), c.name);
}

const std::string kName62(62, 'N');
const std::string kName63(63, 'N');
const std::string kType61(61, 'T');
const std::string kPath62 = "res:\\\\DATA-" + kName62;
const std::string kPath63 = "res:\\\\DATA-" + kName63;
// The '-' as the 62nd character behind the separators still ends a type,
// as the 63rd it does not.
const std::string kPathType61 = "res:\\\\" + kType61 + "-X";
const std::string kPathType62 = "res:\\\\" + kType61 + "T-X";

INSTANTIATE_TEST_SUITE_P(Paths, ResourcePathTest,
                         ::testing::Values(ResourceCase{"res:\\\\HTML-INDEX", "number:23", "text:INDEX"},
                                           ResourceCase{"res:\\\\7-9", "number:7", "number:9"},
                                           ResourceCase{"RES://html/index", "number:23", "text:index"},
                                           ResourceCase{"Res:/\\Cursor\\12", "number:1", "number:12"},
                                           ResourceCase{"res:\\\\bitmap-LOGO", "number:2", "text:LOGO"},
                                           ResourceCase{"res:\\\\ICON-1", "number:3", "number:1"},
                                           ResourceCase{"res:\\\\DATA-101", "text:DATA", "number:101"},
                                           ResourceCase{"res:\\\\MYTYPE-a-b", "text:MYTYPE", "text:a-b"},
                                           // No separator: no type, so DATA, and the whole rest is the name.
                                           ResourceCase{"res:\\\\archive", "text:DATA", "text:archive"},
                                           ResourceCase{"res:\\\\42", "text:DATA", "number:42"},
                                           // A zero value is not a number.
                                           ResourceCase{"res:\\\\0-5", "text:0", "number:5"},
                                           // Numbers keep their low 16 bits.
                                           ResourceCase{"res:\\\\65537-3", "number:1", "number:3"},
                                           ResourceCase{kPath62, "text:DATA", "text:" + kName62},
                                           ResourceCase{kPath63, "text:DATA", "number:0"},
                                           ResourceCase{kPathType61, "text:" + kType61, "text:X"},
                                           ResourceCase{kPathType62, "text:DATA", "number:0"}));

TEST(PseudoPathKind, NeedsThePrefixAndTwoSeparators) {
  EXPECT_EQ(PseudoPathKind("res:\\\\a"), PseudoKind::kResource);
  EXPECT_EQ(PseudoPathKind("mEm://1-2"), PseudoKind::kMemory);
  EXPECT_EQ(PseudoPathKind("res:\\a"), PseudoKind::kNone);
  EXPECT_EQ(PseudoPathKind("res:"), PseudoKind::kNone);
  EXPECT_EQ(PseudoPathKind("C:\\\\a.zip"), PseudoKind::kNone);
  EXPECT_EQ(PseudoPathKind("rez:\\\\a"), PseudoKind::kNone);
  EXPECT_EQ(PseudoPathKind(nullptr), PseudoKind::kNone);
  EXPECT_EQ(ParsePseudoPath("archive.zip").kind, PseudoKind::kNone);
}

TEST(ResolveResourceType, NamesBecomeNumbers) {
  EXPECT_EQ(Describe(ResolveResourceType({nullptr, 0})), "text:DATA");
  EXPECT_EQ(Describe(ResolveResourceType({"cursor", 0})), "number:1");
  EXPECT_EQ(Describe(ResolveResourceType({"BITMAP", 0})), "number:2");
  EXPECT_EQ(Describe(ResolveResourceType({"Icon", 0})), "number:3");
  EXPECT_EQ(Describe(ResolveResourceType({"hTmL", 0})), "number:23");
  EXPECT_EQ(Describe(ResolveResourceType({"HTMLX", 0})), "text:HTMLX");
  EXPECT_EQ(Describe(ResolveResourceType({nullptr, 10})), "number:10");
}

struct MemoryCase {
  const char* path;
  std::uintptr_t address;
  std::int32_t capacity;
  std::int32_t used;
};

class MemoryPathTest : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryPathTest, ParsesAddressCapacityAndUsedSize) {
  const MemoryCase& c = GetParam();
  const PseudoPath parsed = ParsePseudoPath(c.path);
  ASSERT_EQ(parsed.kind, PseudoKind::kMemory);
  EXPECT_EQ(parsed.memory.address, c.address);
  EXPECT_EQ(parsed.memory.capacity, c.capacity);
  EXPECT_EQ(parsed.memory.used, c.used);
}

INSTANTIATE_TEST_SUITE_P(Paths, MemoryPathTest,
                         ::testing::Values(MemoryCase{"mem:\\\\001234AB-1000\\5", 0x1234AB, 1000, 5},
                                           MemoryCase{"MEM://1234ab/1000", 0x1234AB, 1000, -1},
                                           MemoryCase{"mem:\\/00000001-1000000-0", 1, 1000000, 0},
                                           MemoryCase{"mem:\\\\FFFF-4294967295", 0xFFFF, -1, -1},
                                           MemoryCase{"mem:\\\\ABC", 0xABC, 0, -1}));

TEST(FormatPaths, ResourcePathsNameTypeAndName) {
  EXPECT_EQ(FormatResourcePath({"DATA", 0}, {nullptr, 101}), "res:\\\\DATA-101");
  EXPECT_EQ(FormatResourcePath({nullptr, 23}, {"INDEX", 0}), "res:\\\\23-INDEX");
}

TEST(FormatPaths, MemoryPathsRoundTrip) {
  std::vector<unsigned char> block(16);
  const std::string withUsed = FormatMemoryPath(block.data(), 5000, 12);
  const std::string withoutUsed = FormatMemoryPath(block.data(), 5000, -1);
  EXPECT_EQ(withUsed, withoutUsed + "\\12");
  const PseudoPath parsed = ParsePseudoPath(withUsed.c_str());
  ASSERT_EQ(parsed.kind, PseudoKind::kMemory);
  EXPECT_EQ(parsed.memory.address, reinterpret_cast<std::uintptr_t>(block.data()));
  EXPECT_EQ(parsed.memory.capacity, 5000);
  EXPECT_EQ(parsed.memory.used, 12);
  EXPECT_EQ(FormatMemoryPath(reinterpret_cast<void*>(0xAB), 7, 0), "mem:\\\\000000AB-7\\0");
}

// ---- Opening resources -----------------------------------------------------------------------

// The resource table is process-wide: each blob is registered once.
const std::vector<unsigned char>& HtmlIndexBlob() {
  static const std::vector<unsigned char> blob = {'P', 'K', 5, 6, 0, 0, 0, 0};
  return blob;
}

bool RegisterTestResources() {
  static const bool registered = [] {
    static const unsigned char numbered[] = {1, 2, 3, 4, 5, 6, 7};
    return platform::RegisterResourceData({nullptr, kResourceHtml}, {"INDEX", 0}, HtmlIndexBlob().data(),
                                          static_cast<std::uint32_t>(HtmlIndexBlob().size())) &&
           platform::RegisterResourceData({nullptr, 7}, {nullptr, 9}, numbered, sizeof numbered);
  }();
  return registered;
}

TEST(OpenResourceStore, HtmlIndexOpensType23NamedIndex) {
  if (!RegisterTestResources()) GTEST_SKIP() << "this platform keeps its resources in the program";
  const PseudoPath parsed = ParsePseudoPath("res:\\\\HTML-INDEX");
  ArchiveStore store;
  std::string path;
  ASSERT_EQ(OpenResourceStore(store, parsed.resource.Type(), parsed.resource.Name(), &path), kOk);
  EXPECT_EQ(path, "res:\\\\23-INDEX");
  EXPECT_TRUE(store.IsReadOnly());
  EXPECT_EQ(store.UsedSize(), -1);
  EXPECT_EQ(store.Size(), static_cast<std::int64_t>(HtmlIndexBlob().size()));
  EXPECT_EQ(store.Data(), HtmlIndexBlob().data());
  EXPECT_EQ(store.Tell(), 0);
}

TEST(OpenResourceStore, NumericTypeAndName) {
  if (!RegisterTestResources()) GTEST_SKIP() << "this platform keeps its resources in the program";
  const PseudoPath parsed = ParsePseudoPath("res:\\\\7-9");
  ArchiveStore store;
  std::string path;
  ASSERT_EQ(OpenResourceStore(store, parsed.resource.Type(), parsed.resource.Name(), &path), kOk);
  EXPECT_EQ(path, "res:\\\\7-9");
  EXPECT_EQ(store.Size(), 7);
  unsigned char first = 0;
  ASSERT_EQ(store.Read(&first, 1), 1);
  EXPECT_EQ(first, 1);
}

TEST(OpenResourceStore, MissingResourcesAre12) {
  RegisterTestResources();
  ArchiveStore store;
  std::vector<unsigned char> block(10);
  store.UseBlock(block.data(), 10, 3);
  std::string path = "unchanged";
  for (const char* text : {"res:\\\\HTML-NOPE", "res:\\\\8-9", "res:\\\\INDEX"}) {
    SCOPED_TRACE(text);
    const PseudoPath parsed = ParsePseudoPath(text);
    EXPECT_EQ(OpenResourceStore(store, parsed.resource.Type(), parsed.resource.Name(), &path), kNotFound);
  }
  const PseudoPath tooLong = ParsePseudoPath(kPath63.c_str());
  EXPECT_EQ(OpenResourceStore(store, tooLong.resource.Type(), tooLong.resource.Name(), &path), kNotFound);
  EXPECT_EQ(OpenResourceStore(store, {nullptr, 23}, {nullptr, 70000}, &path), kNotFound);
  // A failed open leaves the store and the path alone.
  EXPECT_EQ(store.Data(), block.data());
  EXPECT_EQ(path, "unchanged");
}

// ---- Opening memory ---------------------------------------------------------------------------

TEST(OpenMemoryStore, MissingOrEmptyBlocksAre12) {
  ArchiveStore store;
  unsigned char block[4] = {};
  EXPECT_EQ(OpenMemoryStore(store, nullptr, 100, 0, nullptr), kNotFound);
  EXPECT_EQ(OpenMemoryStore(store, block, 0, 0, nullptr), kNotFound);
  EXPECT_EQ(OpenMemoryStore(store, block, -5, 0, nullptr), kNotFound);
  EXPECT_TRUE(store.IsEmpty());
}

TEST(OpenMemoryStore, GrowableBlock) {
  ArchiveStore store;
  std::string path;
  ASSERT_EQ(OpenMemoryStore(store, reinterpret_cast<void*>(kGrowableBlock), 1000000, 0, &path), kOk);
  EXPECT_TRUE(store.OwnsBuffer());
  EXPECT_EQ(store.Capacity(), 262144);
  EXPECT_EQ(store.MaximumSize(), 1000000);
  EXPECT_EQ(store.UsedSize(), 0);
  EXPECT_EQ(MemoryOpenMode(store.UsedSize()), 3);
  EXPECT_EQ(path, FormatMemoryPath(store.Data(), 1000000, 0));
  // A larger used-size argument is the initial allocation.
  ASSERT_EQ(OpenMemoryStore(store, reinterpret_cast<void*>(kGrowableBlock), 1000000, 300000, &path), kOk);
  EXPECT_EQ(store.Capacity(), 300000);
  EXPECT_EQ(store.UsedSize(), 0);
}

TEST(OpenMemoryStore, CallersBlockKeepsItsUsedSize) {
  std::vector<unsigned char> block(500, 7);
  ArchiveStore store;
  std::string path;
  ASSERT_EQ(OpenMemoryStore(store, block.data(), 500, -1, &path), kOk);
  EXPECT_FALSE(store.OwnsBuffer());
  EXPECT_EQ(store.Data(), block.data());
  EXPECT_EQ(store.Size(), 500);
  EXPECT_EQ(MemoryOpenMode(store.UsedSize()), 1);
  EXPECT_EQ(path, FormatMemoryPath(block.data(), 500, -1));
  ASSERT_EQ(OpenMemoryStore(store, block.data(), 500, 120, &path), kOk);
  EXPECT_EQ(store.Size(), 120);
  EXPECT_EQ(MemoryOpenMode(store.UsedSize()), 2);
  EXPECT_EQ(path, FormatMemoryPath(block.data(), 500, 120));
  // A used size beyond the block is held to the block.
  ASSERT_EQ(OpenMemoryStore(store, block.data(), 500, 900, &path), kOk);
  EXPECT_EQ(store.Size(), 500);
}

}  // namespace
}  // namespace korbel
