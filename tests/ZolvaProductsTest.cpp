// The product catalogue: loading the numbered definition resources, finding
// entries, and running detection and removal for one entry at a time.
#include "definitions/ZolvaProducts.h"

#include "backup/BackupFile.h"
#include "common/Errors.h"
#include "common/Utf.h"
#include "platform/doubles/FakeResources.h"
#include "platform/doubles/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

using namespace keystrip;
using platform::FakeResources;
using platform::MemoryRegistry;

namespace {

using Names = std::vector<std::u16string>;

// A definition document with one detection and one removal rule, both on
// HKLM\SOFTWARE\Zolva\<key>.
std::string Definition(const std::string& name, const std::string& key = "Test") {
    const std::string path = R"(SOFTWARE\\Zolva\\)" + key;
    return R"({"creator":"test","detection":[{"action":"KeyExist","key":")" + path +
           R"(","value":"","root":"HKEY_LOCAL_MACHINE","name":""}],"version":1,)"
           R"("removal":[{"action":"CompleteKey","key":")" +
           path + R"(","root":"HKEY_LOCAL_MACHINE","name":""}],"name":")" + name + R"("})";
}

std::u16string ResourceName(int number) {
    return U16("ZOLVAPRODUCT" + std::to_string(number));
}

std::string ProductName(int number) {
    return "Product " + std::to_string(number);
}

// The numbered resources, each a valid definition named "Product <n>".
FakeResources Resources(std::initializer_list<int> numbers) {
    FakeResources resources;
    for (int n : numbers)
        resources.Add(ResourceName(n), Definition(ProductName(n), "P" + std::to_string(n)));
    return resources;
}

Names EntryNames(const TZolvaProducts& products) {
    Names names;
    for (int i = 0; i < products.Count(); ++i)
        names.push_back(products.Items(i)->Product->Name());
    return names;
}

Names ProductNames(std::initializer_list<int> numbers) {
    Names names;
    for (int n : numbers)
        names.push_back(U16(ProductName(n)));
    return names;
}

// --- Loading -----------------------------------------------------------------

struct LoadRow {
    const char* what;
    std::function<void(FakeResources&)> setUp; // applied to resources 1 to 7
    Names expected;
};

void PrintTo(const LoadRow& row, std::ostream* os) {
    *os << row.what;
}

class LoadFromResourceTest : public testing::TestWithParam<LoadRow> {};

TEST_P(LoadFromResourceTest, LoadsTheNumberedDefinitionsUpToTheFirstGap) {
    FakeResources resources = Resources({1, 2, 3, 4, 5, 6, 7});
    GetParam().setUp(resources);
    MemoryRegistry registry;
    TZolvaProducts products(registry, resources);

    products.LoadFromResource();

    EXPECT_EQ(EntryNames(products), GetParam().expected);
    for (int i = 0; i < products.Count(); ++i) {
        EXPECT_FALSE(products.Items(i)->Found);
        EXPECT_FALSE(products.Items(i)->Removed);
    }
    EXPECT_EQ(resources.LiveStreams(), 0) << "a resource stream was not released";
    EXPECT_EQ(products.Activity()->Count(), 0) << "loading is not logged";
}

const auto kAll = ProductNames({1, 2, 3, 4, 5, 6, 7});

INSTANTIATE_TEST_SUITE_P(
    Table, LoadFromResourceTest,
    testing::Values(
        LoadRow{"all seven", [](FakeResources&) {}, kAll},
        LoadRow{"1, 2 and 4 only",
                [](FakeResources& r) {
                    for (int n : {3, 5, 6, 7})
                        r.Remove(ResourceName(n));
                },
                ProductNames({1, 2})},
        LoadRow{"without 1", [](FakeResources& r) { r.Remove(u"ZOLVAPRODUCT1"); }, {}},
        LoadRow{"an eighth", [](FakeResources& r) { r.Add(u"ZOLVAPRODUCT8", Definition("Eight")); },
                [] {
                    Names n = ProductNames({1, 2, 3, 4, 5, 6, 7});
                    n.push_back(u"Eight");
                    return n;
                }()},
        LoadRow{"numbered with a leading zero",
                [](FakeResources& r) {
                    r.Remove(u"ZOLVAPRODUCT1");
                    r.Add(u"ZOLVAPRODUCT01", Definition("Zero one"));
                },
                {}},
        LoadRow{"3 without a name",
                [](FakeResources& r) {
                    r.Add(u"ZOLVAPRODUCT3", std::string(R"({"detection":[],"removal":[]})"));
                },
                ProductNames({1, 2, 4, 5, 6, 7})},
        LoadRow{"3 with an empty name",
                [](FakeResources& r) { r.Add(u"ZOLVAPRODUCT3", Definition("")); },
                ProductNames({1, 2, 4, 5, 6, 7})},
        LoadRow{"2 empty", [](FakeResources& r) { r.Add(u"ZOLVAPRODUCT2", std::string()); },
                ProductNames({1, 3, 4, 5, 6, 7})},
        LoadRow{"5 without removal",
                [](FakeResources& r) {
                    r.Add(u"ZOLVAPRODUCT5", std::string(R"({"name":"Five","detection":[]})"));
                },
                {}},
        LoadRow{"7 without detection",
                [](FakeResources& r) {
                    r.Add(u"ZOLVAPRODUCT7", std::string(R"({"name":"Seven","removal":[]})"));
                },
                {}},
        LoadRow{"4 not JSON",
                [](FakeResources& r) { r.Add(u"ZOLVAPRODUCT4", std::string("{\"name\":")); },
                {}},
        LoadRow{"2 unreadable", [](FakeResources& r) { r.AddBroken(u"ZOLVAPRODUCT2"); }, {}},
        LoadRow{"UTF-16 with its mark",
                [](FakeResources& r) {
                    const std::u16string text = U16(Definition("Wide \xC3\x9C"));
                    std::vector<uint8_t> bytes = {0xFF, 0xFE};
                    for (char16_t c : text) {
                        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
                        bytes.push_back(static_cast<uint8_t>(c >> 8));
                    }
                    r.Add(u"ZOLVAPRODUCT7", bytes);
                },
                [] {
                    Names n = ProductNames({1, 2, 3, 4, 5, 6});
                    n.push_back(u"Wide \u00DC");
                    return n;
                }()}));

TEST(ZolvaProductsLoadTest, StopsAtTheGapWithoutReadingWhatFollows) {
    FakeResources resources = Resources({1, 2, 4});
    MemoryRegistry registry;
    TZolvaProducts products(registry, resources);
    products.LoadFromResource();
    EXPECT_EQ(resources.OpenCount(u"ZOLVAPRODUCT3"), 1);
    EXPECT_EQ(resources.OpenCount(u"ZOLVAPRODUCT4"), 0);
}

TEST(ZolvaProductsLoadTest, AFailedLoadAlsoDiscardsWhatAnEarlierLoadHeld) {
    FakeResources resources = Resources({1, 2, 3});
    MemoryRegistry registry;
    TZolvaProducts products(registry, resources);
    products.LoadFromResource();
    ASSERT_EQ(products.Count(), 3);

    resources.Add(u"ZOLVAPRODUCT3", std::string("not a definition"));
    EXPECT_NO_THROW(products.LoadFromResource());
    EXPECT_EQ(products.Count(), 0);
    EXPECT_EQ(resources.LiveStreams(), 0);
}

TEST(ZolvaProductsLoadTest, AReloadStartsOverWithFreshFlagsWhileTheLogKeepsGrowing) {
    FakeResources resources = Resources({1, 2});
    MemoryRegistry registry;
    TZolvaProducts products(registry, resources);
    products.LoadFromResource();
    products.Items(0)->Found = true;
    products.Items(1)->Removed = true;
    products.Activity()->Log(asInfo, aaKeyDeleted, u"before");

    resources.Add(u"ZOLVAPRODUCT3", Definition("Product 3"));
    products.LoadFromResource();
    EXPECT_EQ(EntryNames(products), ProductNames({1, 2, 3}));
    EXPECT_FALSE(products.Items(0)->Found);
    EXPECT_FALSE(products.Items(1)->Removed);

    products.Clear();
    EXPECT_EQ(products.Count(), 0);
    ASSERT_EQ(products.Activity()->Count(), 1);
    EXPECT_EQ(products.Activity()->Entries(0)->Data, u"before");
}

// --- Entries and lookups -----------------------------------------------------

TEST(ZolvaProductsTest, AddAppendsAnOwnedEntryWithBothFlagsClear) {
    MemoryRegistry registry;
    FakeResources resources;
    TZolvaProducts products(registry, resources);
    auto owned = std::make_unique<TZolvaProduct>(u"First");
    TZolvaProduct* first = owned.get();
    pZolvaProductsItem a = products.Add(std::move(owned));
    pZolvaProductsItem b = products.Add(std::make_unique<TZolvaProduct>(u"Second"));

    EXPECT_EQ(products.Count(), 2);
    EXPECT_EQ(a->Product.get(), first);
    EXPECT_FALSE(a->Found || a->Removed);
    EXPECT_EQ(products.Items(0), a);
    EXPECT_EQ(products.Items(1), b);
    EXPECT_EQ(products.Find(first), a);
}

TEST(ZolvaProductsTest, ItemsOutsideTheListFailAndChangeNothing) {
    MemoryRegistry registry;
    FakeResources resources = Resources({1});
    TZolvaProducts products(registry, resources);
    products.LoadFromResource();
    for (int bad : {-1, 1, 7})
        EXPECT_THROW(products.Items(bad), EListError) << bad;
    EXPECT_EQ(products.Count(), 1);
}

TEST(ZolvaProductsTest, FindByProductIsByIdentity) {
    MemoryRegistry registry;
    FakeResources resources = Resources({1, 2});
    TZolvaProducts products(registry, resources);
    products.LoadFromResource();
    TZolvaProduct twin(u"Product 2"); // same name, another object
    EXPECT_EQ(products.Find(&twin), nullptr);
    EXPECT_EQ(products.Find(products.Items(1)->Product.get()), products.Items(1));
}

struct FindRow {
    std::u16string query;
    int expected; // index of the entry found, -1 for none
};

class FindByNameTest : public testing::TestWithParam<FindRow> {};

TEST_P(FindByNameTest, ComparesIgnoringAsciiCaseOnly) {
    MemoryRegistry registry;
    FakeResources resources;
    resources.Add(u"ZOLVAPRODUCT1", Definition("Zolva Photo Studio"))
        .Add(u"ZOLVAPRODUCT2", "\xEF\xBB\xBF" + Definition("Zolva \xC3\x9C"
                                                           "bersicht"))
        .Add(u"ZOLVAPRODUCT3", Definition("ZOLVA PHOTO STUDIO"));
    TZolvaProducts products(registry, resources);
    products.LoadFromResource();
    ASSERT_EQ(products.Count(), 3);

    pZolvaProductsItem found = products.Find(GetParam().query);
    if (GetParam().expected < 0) {
        EXPECT_EQ(found, nullptr);
    } else {
        EXPECT_EQ(found, products.Items(GetParam().expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, FindByNameTest,
                         testing::Values(FindRow{u"Zolva Photo Studio", 0},
                                         FindRow{u"zolva photo studio", 0}, // the lower number wins
                                         FindRow{u"ZOLVA PHOTO STUDIO", 0},
                                         FindRow{u" Zolva Photo Studio", -1},
                                         FindRow{u"Zolva Photo Studio ", -1},
                                         FindRow{u"Zolva Photo", -1},
                                         FindRow{u"zolva \u00DCbersicht", 1},
                                         FindRow{u"Zolva \u00FCbersicht", -1}, // only A to Z fold
                                         FindRow{u"", -1}));

TEST(ZolvaProductsTest, FindByNameSkipsEntriesWithoutProduct) {
    MemoryRegistry registry;
    FakeResources resources;
    TZolvaProducts products(registry, resources);
    products.Add(nullptr);
    pZolvaProductsItem named = products.Add(std::make_unique<TZolvaProduct>(u""));
    EXPECT_EQ(products.Find(u""), named);
}

// --- Detection and removal ---------------------------------------------------

class ZolvaProductsRunTest : public testing::Test {
protected:
    void SetUp() override {
        resources_.Add(u"ZOLVAPRODUCT1", Definition("Alpha", "Alpha"))
            .Add(u"ZOLVAPRODUCT2", Definition("Beta", "Beta"));
        products_.LoadFromResource();
        ASSERT_EQ(products_.Count(), 2);
        alpha_ = products_.Items(0);
        beta_ = products_.Items(1);
        registry_.CreateKey(platform::kHkeyLocalMachine, u"SOFTWARE\\Zolva\\Alpha\\Sub");
    }

    bool AlphaPresent() const {
        return registry_.KeyPresent(platform::kHkeyLocalMachine, u"SOFTWARE\\Zolva\\Alpha");
    }

    MemoryRegistry registry_;
    FakeResources resources_;
    TZolvaProducts products_{registry_, resources_};
    pZolvaProductsItem alpha_ = nullptr;
    pZolvaProductsItem beta_ = nullptr;
};

TEST_F(ZolvaProductsRunTest, DetectSetsFoundAndLeavesRemoved) {
    alpha_->Removed = true;
    products_.Detect(alpha_);
    products_.Detect(beta_);
    EXPECT_TRUE(alpha_->Found);
    EXPECT_TRUE(alpha_->Removed);
    EXPECT_FALSE(beta_->Found);
    EXPECT_TRUE(AlphaPresent()) << "detection changed the registry";
    EXPECT_GT(products_.Activity()->Count(), 0);
    EXPECT_EQ(registry_.OpenHandleCount(), 0u);
}

TEST_F(ZolvaProductsRunTest, RemoveDeletesForRealSetsRemovedAndLeavesFound) {
    products_.Detect(alpha_);
    products_.Remove(alpha_);
    EXPECT_TRUE(alpha_->Removed);
    EXPECT_TRUE(alpha_->Found);
    EXPECT_FALSE(AlphaPresent());

    // Detecting again now finds nothing; the flag follows the last run.
    products_.Detect(alpha_);
    EXPECT_FALSE(alpha_->Found);
    EXPECT_TRUE(alpha_->Removed);
}

TEST_F(ZolvaProductsRunTest, ARefusedDeletionLeavesRemovedFalse) {
    alpha_->Removed = true;
    registry_.DenyDelete(platform::kHkeyLocalMachine, u"SOFTWARE\\Zolva\\Alpha\\Sub");
    products_.Remove(alpha_);
    EXPECT_FALSE(alpha_->Removed);
    // An absent key counts as removed.
    products_.Remove(beta_);
    EXPECT_TRUE(beta_->Removed);
}

TEST_F(ZolvaProductsRunTest, EveryRunAppendsToTheOneSharedLog) {
    products_.Detect(alpha_);
    const int afterDetect = products_.Activity()->Count();
    products_.Remove(beta_);
    const int afterRemove = products_.Activity()->Count();
    EXPECT_GT(afterDetect, 0);
    EXPECT_GT(afterRemove, afterDetect);
    products_.LoadFromResource();
    EXPECT_EQ(products_.Activity()->Count(), afterRemove);
}

TEST_F(ZolvaProductsRunTest, APreviewChangesNothingAndABackupCoversEveryLaterRemoval) {
    EXPECT_TRUE(products_.Inspect(alpha_));
    EXPECT_TRUE(AlphaPresent());
    EXPECT_FALSE(alpha_->Removed);
    EXPECT_TRUE(products_.Inspect(nullptr));

    class Sink final : public IBackupSink {
    public:
        const std::u16string& Name() const override { return name; }
        void Append(const std::u16string& text) override { written += text; }
        std::u16string name = u"C:\\Backups\\zolva.reg";
        std::u16string written;
    } backup;
    products_.SetBackup(&backup);
    products_.Remove(alpha_);
    EXPECT_FALSE(AlphaPresent());
    EXPECT_NE(backup.written.find(u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\Alpha\\Sub]"),
              std::u16string::npos);
    const std::u16string report = products_.Activity()->Export({eoInfo});
    EXPECT_NE(report.find(u"Backup of everything deleted: \"C:\\Backups\\zolva.reg\""),
              std::u16string::npos);
    EXPECT_NE(report.find(u"would be deleted (2 keys, 0 values)"), std::u16string::npos);
}

TEST_F(ZolvaProductsRunTest, NothingOrAnEntryWithoutProductIsIgnored) {
    const uint64_t calls = registry_.CallCount();
    products_.Detect(nullptr);
    products_.Remove(nullptr);
    pZolvaProductsItem empty = products_.Add(nullptr);
    empty->Found = true;
    products_.Detect(empty);
    products_.Remove(empty);
    EXPECT_TRUE(empty->Found);
    EXPECT_FALSE(empty->Removed);
    EXPECT_EQ(products_.Activity()->Count(), 0);
    EXPECT_EQ(registry_.CallCount(), calls);
}

} // namespace
