#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include "hvkit.h"

namespace {

class Hvkit : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override
    {
        clear();
        if (!file_.empty())
            unlink(file_.c_str());
    }
    void clear()
    {
        unsetenv("HVKIT_SLOT_NUM");
        unsetenv("HVKIT_HYBRID_MODE");
        unsetenv("HVKIT_MODEL_FILE");
        unsetenv("CAPWAP_MODEL_SLOT_NUM");
    }
    void model_file(const std::string &content)
    {
        char tmpl[] = "/tmp/hvkit_model.XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        file_ = tmpl;
        std::ofstream(file_) << content;
        setenv("HVKIT_MODEL_FILE", file_.c_str(), 1);
    }
    std::string file_;
};

}  // namespace

TEST_F(Hvkit, DefaultsFollowTheSlotSettingAndHybridOff)
{
    EXPECT_EQ(hvkit_get_current_model_slotnum(), 1);
    EXPECT_EQ(hvkit_wlan_get_hybridmode(), 0);
    setenv("CAPWAP_MODEL_SLOT_NUM", "3", 1);
    EXPECT_EQ(hvkit_get_current_model_slotnum(), 3);
    setenv("CAPWAP_MODEL_SLOT_NUM", "-2", 1);
    EXPECT_EQ(hvkit_get_current_model_slotnum(), 0);
}

TEST_F(Hvkit, ModelFileAndEnvironmentOverridesWithEnvironmentFirst)
{
    setenv("CAPWAP_MODEL_SLOT_NUM", "3", 1);
    model_file("# model\nslotnum=2\n  hybridmode=1\n");
    EXPECT_EQ(hvkit_get_current_model_slotnum(), 2);
    EXPECT_EQ(hvkit_wlan_get_hybridmode(), 1);
    setenv("HVKIT_SLOT_NUM", "4", 1);
    setenv("HVKIT_HYBRID_MODE", "0", 1);
    EXPECT_EQ(hvkit_get_current_model_slotnum(), 4);
    EXPECT_EQ(hvkit_wlan_get_hybridmode(), 0);
}

TEST_F(Hvkit, BadValuesAreIgnored)
{
    setenv("CAPWAP_MODEL_SLOT_NUM", "2", 1);
    setenv("HVKIT_SLOT_NUM", "two", 1);
    setenv("HVKIT_HYBRID_MODE", "1x", 1);
    model_file("slotnum=-1\nhybridmode=99999\n");
    EXPECT_EQ(hvkit_get_current_model_slotnum(), 2);
    EXPECT_EQ(hvkit_wlan_get_hybridmode(), 0);
    setenv("HVKIT_MODEL_FILE", "/nonexistent/model", 1);
    EXPECT_EQ(hvkit_get_current_model_slotnum(), 2);
}
