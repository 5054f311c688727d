#include "core/registry.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Keys(Registry& registry) {
    std::vector<std::string> keys;
    char key[Registry::kBufferSize];
    for (registry.First(); registry.CurrentKey(key); registry.Next()) keys.push_back(key);
    return keys;
}

TEST(Registry, CutsLongValuesAndTheCallersText) {
    Registry registry(true);
    std::string exact(255, 'x');
    registry.SetText("a", exact.data());
    EXPECT_EQ(registry.GetString("a").size(), 255u);

    std::string longer(300, 'y');
    registry.SetText("b", longer.data());
    EXPECT_EQ(registry.GetString("b"), std::string(255, 'y'));
    EXPECT_EQ(std::string(longer.c_str()).size(), 255u) << "the caller's text is shortened too";

    registry.SetText("c", std::string(400, 'z').c_str());
    EXPECT_EQ(registry.GetString("c").size(), 255u);
}

TEST(Registry, IntegersFollowTheCLibraryRule) {
    Registry registry(false);
    registry.SetInt("n", -5);
    EXPECT_EQ(registry.GetString("n"), "-5");

    int32_t v = 99;
    registry.SetText("n", "12abc");
    EXPECT_TRUE(registry.GetInt("n", v));
    EXPECT_EQ(v, 12);
    registry.SetText("n", "abc");
    EXPECT_TRUE(registry.GetInt("n", v));
    EXPECT_EQ(v, 0);
    registry.SetText("n", "  +42 ");
    EXPECT_TRUE(registry.GetInt("n", v));
    EXPECT_EQ(v, 42);
    EXPECT_FALSE(registry.GetInt("absent", v));
    EXPECT_EQ(v, 0);

    // Overlong numbers saturate instead of wrapping or invoking UB.
    registry.SetText("n", "99999999999999999999999");
    EXPECT_TRUE(registry.GetInt("n", v));
    EXPECT_EQ(v, INT32_MAX);
    registry.SetText("n", "-99999999999999999999999");
    EXPECT_TRUE(registry.GetInt("n", v));
    EXPECT_EQ(v, INT32_MIN);
}

TEST(Registry, GetTextOfAnUnsetKeyLeavesAnEmptyEntry) {
    Registry registry(true);
    char out[Registry::kBufferSize] = "junk";
    EXPECT_EQ(registry.GetText("never", out), nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(registry.Contains("never"));
    EXPECT_EQ(Keys(registry), std::vector<std::string>{"never"});

    registry.SetText("e", "");
    EXPECT_FALSE(registry.Contains("e"));
    EXPECT_FALSE(registry.TextEquals("e", ""));
    registry.SetText("e", "Abc");
    EXPECT_TRUE(registry.TextEquals("e", "Abc"));
    EXPECT_FALSE(registry.TextEquals("e", "abc"));
}

TEST(Registry, IntInRangeReplacesWhatIsOutOfRange) {
    Registry registry(true);
    registry.SetInt("k", 0);
    EXPECT_EQ(registry.IntInRange("k", 50, 1, 100), 50);
    EXPECT_EQ(registry.GetString("k"), "50");

    registry.SetText("k", "letters");
    EXPECT_EQ(registry.IntInRange("k", 50, 1, 100), 50);

    registry.SetText("k", "077");
    EXPECT_EQ(registry.IntInRange("k", 50, 1, 100), 77);
    EXPECT_EQ(registry.GetString("k"), "077") << "an in-range value is not stored back";

    EXPECT_EQ(registry.IntInRange("absent", 0, 10, 20), 10) << "default outside the range";
    EXPECT_EQ(registry.GetString("absent"), "10");

    registry.SetInt("big", 5000);
    EXPECT_EQ(registry.IntOr("big", 3), 5000) << "IntOr checks no range";
    EXPECT_EQ(registry.IntOr("fresh", 3), 3);
    EXPECT_EQ(registry.GetString("fresh"), "3");
}

TEST(Registry, SetTextIfAbsentAndJoinedForms) {
    Registry registry(true);
    registry.SetTextIfAbsent("t", "first");
    registry.SetTextIfAbsent("t", "second");
    EXPECT_EQ(registry.GetString("t"), "first");
    registry.SetTextJoined("j", "/a/", "move/");
    EXPECT_EQ(registry.GetString("j"), "/a/move/");
    registry.SetIntJoined("Video", "Source", 7);
    EXPECT_EQ(registry.GetHandleJoined("Video", "Source"), 7);
}

TEST(Registry, HandlesKeepTheFullPointer) {
    Registry registry(true);
    int object = 0;
    registry.SetHandle("_CL_X", &object);
    EXPECT_EQ(registry.Find<int>("_CL_X"), &object);
    registry.SetHandle("_neg", static_cast<intptr_t>(INTPTR_MIN));
    EXPECT_EQ(registry.GetHandle("_neg"), INTPTR_MIN);
    EXPECT_EQ(registry.GetHandle("_none"), 0);
}

TEST(Registry, IteratesInByteOrder) {
    Registry registry(false);
    char key[Registry::kBufferSize] = "x";
    char value[Registry::kBufferSize] = "y";
    registry.First();
    EXPECT_FALSE(registry.Current(key, value));
    EXPECT_STREQ(key, "");
    EXPECT_STREQ(value, "");

    for (const char* k : {"a", "_run", "B", "Z", "\xC3\xA9"}) registry.AddName(k);
    EXPECT_EQ(Keys(registry), (std::vector<std::string>{"B", "Z", "_run", "a", "\xC3\xA9"}));

    registry.AddNameUnlocked(std::string(300, 'n').c_str());
    EXPECT_EQ(registry.GetString(std::string(300, 'n').c_str()).size(), 300u) << "no cut";
    registry.Clear();
    registry.First();
    EXPECT_FALSE(registry.CurrentKey(key));
}

TEST(Registry, ConcurrentStoresAndReadsStayConsistent) {
    Registry registry(true);
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) registry.SetInt("ShotCounterFiles", i % 1000);
    });
    int32_t v = 0;
    for (int i = 0; i < 20000; ++i) {
        registry.GetInt("ShotCounterFiles", v);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 1000);
    }
    writer.join();
}

}  // namespace
