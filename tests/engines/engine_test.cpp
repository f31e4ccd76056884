// Engines and their baselines: the jet for the reference air, and the engines kept in the
// settings across a restart, with anything unreadable there giving the defaults.
#include "engine.h"
#include "settings_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <memory>

using namespace engines;

namespace {

const std::string app = "KORVANE_1_ENGINES_TEST";

std::unique_ptr<platform::SettingsStore> store_in(const test_support::TempDir& dir) {
#ifdef _WIN32
    (void)dir;
    return platform::make_settings_store(); // the registry of the test's Wine prefix
#else
    return platform::make_file_settings_store(dir.path() + "/settings.conf");
#endif
}

} // namespace

TEST(Engines, ABaselineGivesItsJetBackInItsAirAndFollowsTheAirFromThere) {
    const Baseline at_20{130, {20, 1000, 50}, ""};
    EXPECT_DOUBLE_EQ(jet_for_reference(at_20), 130);
    EXPECT_DOUBLE_EQ(jet_for_reference(at_20) + correction({28, 1000, 50}), 128);
    const Baseline warm{130, {28, 990, 40}, ""};
    EXPECT_NEAR(jet_for_reference(warm), 132.1, 1e-9);
    EXPECT_NEAR(jet_for_reference(warm) + correction(warm.air), 130, 1e-9);
}

TEST(Engines, SurviveARestartAndUnreadableSettingsGiveTheDefaults) {
    test_support::TempDir dir;
    Garage garage;
    garage.engines = {{"KX125", 130, 2, Baseline{130, {28, 990, 40}, "2026-12-10 09:14 (+01:00)"},
                       "needle 3rd clip"},
                      {"YZ250, \"old\"", 172.5, 2.5, std::nullopt, ""}};
    garage.in_use = 1;
    save(*store_in(dir), app, garage);
    const Garage back = load(*store_in(dir), app);
    ASSERT_EQ(back.engines.size(), 2u);
    EXPECT_EQ(back.engines[0].name, "KX125");
    EXPECT_EQ(back.engines[0].note, "needle 3rd clip");
    ASSERT_TRUE(back.engines[0].baseline);
    EXPECT_DOUBLE_EQ(back.engines[0].baseline->air.pressure, 990);
    EXPECT_EQ(back.engines[0].baseline->when, "2026-12-10 09:14 (+01:00)");
    EXPECT_EQ(back.engines[1].name, "YZ250, \"old\"");
    EXPECT_DOUBLE_EQ(back.engines[1].jet, 172.5);
    EXPECT_DOUBLE_EQ(back.engines[1].step, 2.5);
    EXPECT_FALSE(back.engines[1].baseline);
    EXPECT_EQ(back.in_use, 1u);

    const auto store = store_in(dir);
    const struct {
        const char* key;
        const char* value;
    } corrupt[] = {{"count", "1e9"},
                   {"engine1_step", "7"},
                   {"engine1_jet", "1e999"},
                   {"in_use", "12"},
                   {"engine2_baseline_jet", "x"}};
    for (const auto& c : corrupt)
        store->save(app, "engines", c.key, c.value);
    const Garage defaults = load(*store, app);
    ASSERT_EQ(defaults.engines.size(), most_engines);
    EXPECT_EQ(defaults.engines[9].name, "Engine 10");
    EXPECT_DOUBLE_EQ(defaults.engines[0].step, default_step);
    EXPECT_DOUBLE_EQ(defaults.engines[0].jet, 0);
    EXPECT_FALSE(defaults.engines[1].baseline);
    EXPECT_FALSE(defaults.in_use);
    store->save(app, "engines", "count", "-3");
    EXPECT_TRUE(load(*store, app).engines.empty());
}
