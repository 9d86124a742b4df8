// The settings table: names, defaults and order, and how the environment
// replaces them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "conf_init.h"

// Out of memory on demand: this definition stands in for the C library's
// strdup in the whole test program.
static bool fail_copies = false;
extern "C" char *strdup(const char *s)
{
    if (fail_copies)
        return nullptr;
    char *copy = static_cast<char *>(std::malloc(std::strlen(s) + 1));
    return copy != nullptr ? std::strcpy(copy, s) : nullptr;
}

namespace {

struct Expected {
    std::string name, def;
};

// defaults.txt: every setting in application order with its default.
const std::vector<Expected> kSettings = [] {
    std::vector<Expected> out;
    std::ifstream in(std::string(getenv("RRM_SOURCE_DIR")) + "/tests/settings/defaults.txt");
    for (std::string name, def; in >> name;)
        if (name[0] != '#' && in >> def)
            out.push_back({name, def});
        else
            std::getline(in, def);
    return out;
}();
const std::size_t kCount = kSettings.size();

std::vector<__str_initenv__rec *> records()
{
    std::vector<__str_initenv__rec *> out;
    for (__str_initenv__rec *r = __start_str_initenv; r < __stop_str_initenv; ++r)
        out.push_back(r);
    return out;
}

// Runs the overrides with the environment ENV set (and every other setting
// unset), then checks each setting; the copies are freed and the defaults
// put back afterwards so the next test starts clean.
class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const Expected &e : kSettings)
            unsetenv(e.name.c_str());
        for (__str_initenv__rec *r : records())
            defaults_.push_back(*r->store);
    }
    void TearDown() override
    {
        auto recs = records();
        for (std::size_t i = 0; i < recs.size(); ++i) {
            if (*recs[i]->store != defaults_[i]) {
                std::free(*recs[i]->store);
                *recs[i]->store = defaults_[i];
            }
            unsetenv(recs[i]->os_env_name);
        }
    }
    std::vector<char *> defaults_;
};

// With no environment, every default stays, untouched.
TEST_F(Settings, SectionHoldsEverySettingInOrderWithItsDefault)
{
    do_initenv_initialization();
    auto recs = records();
    ASSERT_EQ(recs.size(), kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        SCOPED_TRACE(kSettings[i].name);
        EXPECT_EQ(recs[i]->os_env_name, kSettings[i].name);
        EXPECT_EQ(*recs[i]->store, kSettings[i].def);
        EXPECT_EQ(*recs[i]->store, defaults_[i]);
    }
    // The records point at the very variables the daemon reads.
    EXPECT_EQ(recs[0]->store, &DOT11_ATH_IWPRIV);
    EXPECT_EQ(recs[3]->store, &DOT11_ATH_WLANCONFIG);
    EXPECT_EQ(recs[8]->store, &CAPWAP_MODEL_SLOT_NUM);
    EXPECT_EQ(recs[19]->store, &HVSH_CLI_BIN);
    EXPECT_EQ(recs[22]->store, &CAPWAP_RX_FW_TEMP_PATH);
}

TEST_F(Settings, EnvironmentReplacesOnlyTheNamedSettingsWithCopies)
{
    char slots[] = "CAPWAP_MODEL_SLOT_NUM=2";
    putenv(slots);
    setenv("HVSH_CLI_BIN", "/opt/sim/bin/hvsh", 1);
    setenv("DOT11_ATH_IWPRIV", "", 1);  // empty still overrides
    do_initenv_initialization();

    EXPECT_STREQ(CAPWAP_MODEL_SLOT_NUM, "2");
    EXPECT_EQ(std::atoi(CAPWAP_MODEL_SLOT_NUM), 2);
    EXPECT_STREQ(HVSH_CLI_BIN, "/opt/sim/bin/hvsh");
    EXPECT_STREQ(DOT11_ATH_IWPRIV, "");
    EXPECT_NE(DOT11_ATH_IWPRIV, nullptr);

    // A copy, not the environment's own text: later changes do not show.
    slots[std::strlen(slots) - 1] = '7';
    EXPECT_STREQ(CAPWAP_MODEL_SLOT_NUM, "2");

    auto recs = records();
    for (std::size_t i = 0; i < kCount; ++i) {
        std::string name = kSettings[i].name;
        if (name == "CAPWAP_MODEL_SLOT_NUM" || name == "HVSH_CLI_BIN" || name == "DOT11_ATH_IWPRIV")
            continue;
        EXPECT_EQ(*recs[i]->store, defaults_[i]) << name;
    }
    unsetenv("CAPWAP_MODEL_SLOT_NUM");
}

TEST_F(Settings, ACopyThatCannotBeMadeKeepsTheDefault)
{
    setenv("CAPWAP_MODEL_SLOT_NUM", "3", 1);
    setenv("DOT11_ATH_WLANCONFIG", "/opt/wlanconfig", 1);
    fail_copies = true;
    do_initenv_initialization();
    fail_copies = false;
    EXPECT_STREQ(CAPWAP_MODEL_SLOT_NUM, "1");
    EXPECT_STREQ(DOT11_ATH_WLANCONFIG, "wlanconfig");
}

}  // namespace
