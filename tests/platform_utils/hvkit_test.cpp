#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "../common/proc.h"
#include "hvkit.h"

// The slot count and hybrid mode from the slot setting, the model file and
// the environment overrides, the environment first; bad values are ignored.
TEST(Hvkit, SettingsModelFileAndOverrides)
{
    const proc::TempDir tmp;
    const std::string model = tmp.file("model");
    const struct {
        const char *slots, *hv_slots, *hv_hybrid, *model;  // nullptr: unset, no model file
        int want_slots, want_hybrid;
    } cases[] = {
        {nullptr, nullptr, nullptr, nullptr, 1, 0},
        {"3", nullptr, nullptr, nullptr, 3, 0},
        {"-2", nullptr, nullptr, nullptr, 0, 0},
        {"3", nullptr, nullptr, "# model\nslotnum=2\n  hybridmode=1\n", 2, 1},
        {"3", "4", "0", "# model\nslotnum=2\n  hybridmode=1\n", 4, 0},
        {"2", "two", "1x", "slotnum=-1\nhybridmode=99999\n", 2, 0},
        {"2", "two", "1x", "", 2, 0},  // the model file missing
    };
    for (const auto &c : cases) {
        for (auto [name, value] : {std::pair{"CAPWAP_MODEL_SLOT_NUM", c.slots}, {"HVKIT_SLOT_NUM", c.hv_slots},
                                   {"HVKIT_HYBRID_MODE", c.hv_hybrid}})
            value != nullptr ? setenv(name, value, 1) : unsetenv(name);
        if (c.model != nullptr)
            std::ofstream(model) << c.model;
        c.model == nullptr ? unsetenv("HVKIT_MODEL_FILE")
                           : setenv("HVKIT_MODEL_FILE", (*c.model != '\0' ? model : tmp.file("missing")).c_str(), 1);
        EXPECT_EQ(hvkit_get_current_model_slotnum(), c.want_slots) << (c.model ? c.model : "") << c.want_slots;
        EXPECT_EQ(hvkit_wlan_get_hybridmode(), c.want_hybrid) << (c.model ? c.model : "") << c.want_slots;
    }
    for (const char *name : {"CAPWAP_MODEL_SLOT_NUM", "HVKIT_SLOT_NUM", "HVKIT_HYBRID_MODE", "HVKIT_MODEL_FILE"})
        unsetenv(name);
}
