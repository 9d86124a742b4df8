// A status database on a private temporary file, with its command trace.
#ifndef TESTS_STATUSDB_FIXTURE_H
#define TESTS_STATUSDB_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "../common/proc.h"
#include "parser_module.h"

class StatusDb : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir_.empty());
        setenv("STATUSDB_PATH", path_.c_str(), 1);
        setenv("STATUSDB_TRACE", trace_.c_str(), 1);
        db_ = parser_open("dbcmd");
        ASSERT_NE(db_, nullptr);
        client_ = db_->init_sock(0);
        ASSERT_NE(client_, nullptr);
    }
    void TearDown() override
    {
        if (client_ != nullptr)
            db_->close_sock(client_, 0);
        unsetenv("STATUSDB_PATH");
        unsetenv("STATUSDB_TRACE");
    }

    std::vector<std::string> trace_lines() const { return proc::lines(trace_); }

    proc::TempDir tmp_;  // removed with its files
    std::string dir_ = tmp_.path, path_ = tmp_.file("status.db"), trace_ = tmp_.file("trace.txt");
    parser_module *db_ = nullptr;
    void *client_ = nullptr;
    char reply_[PARSER_REPLY_MAX] = {};
};

#endif
